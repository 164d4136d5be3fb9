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

void take_request(Delivery &c) {
    const SMTPSEND_STRUCTURE &r = *c.req;
    c.login.user = field_text(r.szAuthUser);
    c.login.password = field_text(r.szAuthPassword);
    c.hand.source.block = r.hMessage;
    c.hand.source.queued = r.bMessageDirectory != 0;
    c.helo_domain = field_text(r.szHeloDomain);
    c.messages_sent = r.nMessagesSent;
}

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
    return !c.helo_domain.empty() || at == std::string::npos ? c.helo_domain : sender.substr(at + 1);
}

void Delivery::show_helo_domain(const std::string &domain) {
    if (helo_domain.empty() && set_field(req->szHeloDomain, domain)) helo_domain = domain;  // fits: part of the sender
}

void show_messages_sent(Delivery &c, int32_t count) {
    c.messages_sent = count;
    c.req->nMessagesSent = count;
}

void show_login_forms(SMTPSEND_STRUCTURE &r, const EncodedLogin &forms) {
    if (forms.user.empty()) {
        r.szAuthPassword[0] = '\0';
        return;
    }
    if (forms.user.size() < sizeof r.szAuthUser) (void)set_field(r.szAuthUser, forms.user);
    if (!forms.password.empty() && forms.password.size() < sizeof r.szAuthPassword)
        (void)set_field(r.szAuthPassword, forms.password);
}

void Delivery::show_login_forms(const EncodedLogin &forms) { vellor::show_login_forms(*req, forms); }

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
