// The message in hand (Delivery::hand: file, sender, recipient, server and its
// address, attempt) and the request record. The delivery walks its files,
// recipients and servers in this value, never in the record, and hands it
// to the session with each transaction. The delivery writes the record's
// szMessageFile, szSender, szRecipient, szServer, szServerIP and nAttempt
// here only, each time the value changes, so that the application sees the
// message in hand during the call (its callback) and the last one after it,
// as documented. The session's results reach the record here too: its
// error code as it happens (Delivery::show_error, nErrorCode) and the HELO
// domain it greets with (szHeloDomain). The steps whose documented result is the record itself (an
// envelope read, a list entry selected, a list of one settled for a
// transaction, submit/transaction_envelope.h) write it on their own; the
// value is then taken back from it.
#pragma once
#include "submit/delivery_context.h"

namespace vellor {

// The value taken from the record: when the delivery starts, and after a
// step that writes the record itself.
void take_from_record(Delivery &c);
// The value written into the record; false when one of its texts does not
// fit its field (that field is left empty, in the value too: never cut).
[[nodiscard]] bool show_in_record(Delivery &c);
// The HELO domain: szHeloDomain, else the sender's domain (shown there
// once the session greets with it, Delivery::show_helo_domain).
std::string helo_domain_of(const Delivery &c, const std::string &sender);

}  // namespace vellor
