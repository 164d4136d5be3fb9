// The one per-recipient loop of MX delivery: a message's recipients taken
// one after another, each by a connection of its own, while the files they
// accept are held (HeldFiles, submit/mx_steps.h) so that a file goes only
// after every recipient took it. What one recipient's turn does (how its
// address is taken, what is looked up and reported) is its caller's: a
// recipient list (submit/mx_delivery.cpp), an envelope's recipients, alone
// or in a directory pass (submit/mx_envelope_delivery.cpp). Also the step
// both envelope deliveries take first: the next recipient of the envelope.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "submit/delivery_context.h"

namespace vellor {

// What a recipient's turn came to.
enum class Turn {
    Next,   // on to the next recipient
    Stop,   // no further recipient; the files held are settled
    Leave,  // no further recipient; nothing settled (the files stay)
};

// `each(k)` for the recipients k = 0, 1, ... below nRecipients until one
// says Stop or Leave; the files held are then settled for the count of
// recipients when the loop began, unless a turn said Leave. The last turn.
Turn each_recipient(Delivery &c, const std::function<Turn(int)> &each);

// The next recipient of the envelope's list after `offset`, made the
// recipient in hand (the record shows it, 909 reported) into `addr`.
enum class EnvelopeRecipient { Found, Ended, Unfit, NoDomain };
EnvelopeRecipient next_envelope_recipient(Delivery &c, uint32_t &offset, std::string &addr);

}  // namespace vellor
