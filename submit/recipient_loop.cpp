// The per-recipient loop of MX delivery and the envelope's next recipient
// (see recipient_loop.h).
#include "submit/recipient_loop.h"

#include "msgfiles/recipients.h"
#include "submit/message_in_hand.h"
#include "submit/mx_steps.h"
#include "support/text.h"
#include "support/report_texts.h"

namespace vellor {

Turn each_recipient(Delivery &c, const std::function<Turn(int)> &each) {
    HeldFiles held(c);
    const int expected = c.req->nRecipients;
    Turn turn = Turn::Next;
    for (int k = 0; k < c.req->nRecipients && turn == Turn::Next; ++k) turn = each(k);
    if (turn != Turn::Leave) held.release(expected);
    return turn;
}

EnvelopeRecipient next_envelope_recipient(Delivery &c, uint32_t &offset, std::string &addr) {
    SMTPSEND_STRUCTURE *r = c.req;
    next_recipient(r->hRecipients, addr, offset);
    if (addr.empty()) return EnvelopeRecipient::Ended;
    c.hand.recipient = addr;
    if (!show_in_record(c)) {  // the message stays: this recipient does not take it
        c.unfit(912, texts::kEnvelopeRecipientField, sizeof r->szRecipient);
        return EnvelopeRecipient::Unfit;
    }
    c.report(Where::callback, 920, 909, format(texts::kIdentified, addr.c_str()));
    return addr.find('@') == std::string::npos ? EnvelopeRecipient::NoDomain : EnvelopeRecipient::Found;
}

}  // namespace vellor
