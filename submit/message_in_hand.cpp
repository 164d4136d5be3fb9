// The message in hand and the request record (see message_in_hand.h).
#include "submit/message_in_hand.h"

#include "support/text.h"
#include "transport/companion.h"

namespace vellor {

namespace {

// szServerIP holds IPv4 addresses only: an IPv6 address in hand leaves it
// empty (never a cut or foreign text there), and the record's empty field
// then stands for it.
bool ipv6_in_hand(const Delivery &c) { return transport::family_of(c.hand.server_ip) == 6; }

}  // namespace

void take_from_record(Delivery &c) {
    const SMTPSEND_STRUCTURE &r = *c.req;
    std::string kept = ipv6_in_hand(c) && empty(r.szServerIP) && c.hand.server == field_text(r.szServer)
                           ? c.hand.server_ip
                           : field_text(r.szServerIP);
    c.hand.file = field_text(r.szMessageFile);
    c.hand.sender = field_text(r.szSender);
    c.hand.recipient = field_text(r.szRecipient);
    c.hand.server = field_text(r.szServer);
    c.hand.server_ip = kept;
    c.hand.attempt = r.nAttempt;
}

std::string helo_domain_of(const Delivery &c, const std::string &sender) {
    std::size_t at = sender.find('@');
    return !empty(c.req->szHeloDomain) || at == std::string::npos ? field_text(c.req->szHeloDomain)
                                                                  : sender.substr(at + 1);
}

void Delivery::show_helo_domain(const std::string &domain) {
    if (empty(req->szHeloDomain)) (void)set_field(req->szHeloDomain, domain);  // fits: part of the sender
}

void Delivery::show_error(int code) { req->nErrorCode = static_cast<int16_t>(code); }

bool show_in_record(Delivery &c) {
    SMTPSEND_STRUCTURE &r = *c.req;
    const smtp::Message &m = c.hand;
    bool fits = set_field(r.szMessageFile, m.file);
    fits = set_field(r.szSender, m.sender) && fits;
    fits = set_field(r.szRecipient, m.recipient) && fits;
    fits = set_field(r.szServer, m.server) && fits;
    fits = set_field(r.szServerIP, ipv6_in_hand(c) ? std::string() : m.server_ip) && fits;
    r.nAttempt = static_cast<int16_t>(m.attempt);
    if (!fits) take_from_record(c);  // the field left empty, in the value too
    return fits;
}

}  // namespace vellor
