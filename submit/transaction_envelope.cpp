// The envelope of one transaction (see transaction_envelope.h).
#include "submit/transaction_envelope.h"

#include <cstring>

#include "msgfiles/recipients.h"
#include "platform/global_memory.h"
#include "submit/message_in_hand.h"
#include "support/text.h"
#include "support/report_texts.h"

namespace vellor {
namespace {

// The addresses to name in RCPT TO, by the request's recipient form.
void name_recipients(Delivery &c, bool conversation, smtp::Envelope &e) {
    SMTPSEND_STRUCTURE *r = c.req;
    if (!conversation) {
        if (r->nRecipients == 0) r->nRecipients = 1;
    } else if (r->bViaMX || r->bSingleRecipient) {
        e.singular = r->bViaMX != 0;
        e.recipients = {c.hand.recipient};
        return;
    } else if (r->nRecipients == 1 && r->hRecipients) {
        void *p = GlobalLock(r->hRecipients);
        bool fits = !p || set_field(r->szRecipient, list_text(r->hRecipients, p));  // shown in the record
        GlobalUnlock(r->hRecipients);
        if (!fits) e.unfit_field = sizeof r->szRecipient;
        if (fits) c.hand.recipient = field_text(r->szRecipient);
        if (fits) e.recipients = {c.hand.recipient};
        return;
    }
    if (r->nRecipients == 1) e.recipients = {c.hand.recipient};
    if (r->nRecipients <= 1) return;
    // The list stays locked: the record's re-initialisation releases it.
    r->lpRecipients = GlobalLock(r->hRecipients);
    e.recipients = rcpt_entries(list_text(r->hRecipients, r->lpRecipients), r->nRecipients);
}

// How the end report of an accepted message names its recipients.
std::string accepted_to(const Delivery &c, bool conversation) {
    const SMTPSEND_STRUCTURE *r = c.req;
    const std::string count = std::to_string(r->nRecipients);
    if (conversation && (r->nRecipients == 1 || r->bSingleRecipient || c.hand.source.queued))
        return fill(texts::kToRecipient, {c.hand.recipient});
    if (!conversation && (r->nRecipients == 1 || (r->bViaMX && c.hand.source.queued)))
        return fill(texts::kToOneSent, {count});
    return fill(texts::kToCount, {count});
}

// The recipient holding UTF-8 ("[address]", or a list's "in the recipient
// list"), or empty.
std::string utf8_recipient(const Delivery &c) {
    const SMTPSEND_STRUCTURE *r = c.req;
    if (holds_8bit(c.hand.recipient)) return fill(texts::kQuoted, {c.hand.recipient});
    if (r->nRecipients <= 1 || !r->hRecipients) return {};
    const char *p = static_cast<const char *>(GlobalLock(r->hRecipients));
    bool found = p && holds_8bit(std::string_view(p, ::strnlen(p, GlobalSize(r->hRecipients))));
    GlobalUnlock(r->hRecipients);
    return found ? texts::kInRecipientList : std::string();
}

}  // namespace

smtp::Envelope envelope_for(Delivery &c, bool conversation) {
    smtp::Envelope e;
    e.sender = c.hand.sender;
    e.recipient = c.hand.recipient;  // as handed over, before a list of one settles it
    e.utf8_recipient = utf8_recipient(c);
    e.helo_domain = helo_domain_of(c, e.sender);
    name_recipients(c, conversation, e);
    e.accepted_to = accepted_to(c, conversation);
    return e;
}

}  // namespace vellor
