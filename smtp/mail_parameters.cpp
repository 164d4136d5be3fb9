// What the envelope may carry, from what the server's EHLO reply offered:
//  - SIZE (RFC 1870): MAIL FROM names the message's size; a message larger
//    than the size the server states fails before MAIL FROM (code 904, both
//    sizes in the report), so nothing is sent and its file stays;
//  - SMTPUTF8 (RFC 6531): a sender or recipient holding UTF-8 needs it:
//    MAIL FROM carries SMTPUTF8; a server without it fails the message
//    before MAIL FROM (902 for the sender, 903 for a recipient). An address
//    that is not well-formed UTF-8, or holds a C1 control, fails the same
//    way whatever the server offers;
//  - 8BITMIME (RFC 6152): a body holding 8-bit bytes goes with BODY=8BITMIME;
//  - DSN (RFC 3461), when the DSN options ask for it: MAIL FROM carries RET=
//    and ENVID= (xtext), each RCPT TO NOTIFY= and ORCPT=rfc822; with its
//    address in xtext (left out for an address holding UTF-8, which that
//    type cannot name, and where the line would outgrow a command). A server that does not offer DSN gets none of them:
//    the message goes on, and the log says so.
// After HELO nothing is offered and nothing is added.
#include "smtp/transaction.h"
#include "support/dsn_values.h"
#include "support/text.h"
#include "transport/companion.h"
#include "support/report_texts.h"

namespace vellor::smtp {

bool needs_smtputf8(Transaction &t) { return holds_8bit(t.env.sender) || !t.env.utf8_recipient.empty(); }

bool envelope_allowed(Transaction &t) {
    const Offers &o = t.session.offers;
    uint64_t size = t.body.size + t.body.dkim_field.size();
    if (o.size_limit > 0 && size > o.size_limit) {
        t.fail(904, format(texts::kOverServerSize, static_cast<unsigned long long>(size),
                           static_cast<unsigned long long>(o.size_limit)));
        return false;
    }
    for (auto [field, code] :
         {std::pair{std::string_view(t.env.sender), 902}, std::pair{std::string_view(t.env.recipient), 903}}) {
        if (clean_utf8(field)) continue;
        std::string who(field);
        t.fail(code, format(texts::kAddressNotUtf8, who.c_str()));
        return false;
    }
    if (o.smtputf8) return true;
    bool sender = holds_8bit(t.env.sender);
    std::string who = sender ? fill(texts::kQuoted, {t.env.sender}) : t.env.utf8_recipient;
    if (who.empty()) return true;
    t.fail(sender ? 902 : 903, format(texts::kNoSmtputf8, who.c_str()));
    return false;
}

std::string mail_parameters(Transaction &t) {
    const Offers &o = t.session.offers;
    std::string p;
    if (o.size) p += " SIZE=" + std::to_string(t.body.size + t.body.dkim_field.size());
    if (o.smtputf8 && needs_smtputf8(t)) p += " SMTPUTF8";
    if (o.eight_bit && t.body.eight_bit) p += " BODY=8BITMIME";
    const options::DsnOptions &dsn = t.opts.dsn;
    if (dsn.asked() && !o.dsn)
        t.session.report(Where::log, 0, 0, t.numbered(format(texts::kNoDsn, t.session.host_address().c_str())));
    if (!o.dsn) return p;
    if (!dsn.ret.empty()) p += " RET=" + dsn.ret;
    if (!dsn.envelope_id.empty()) p += " ENVID=" + dsn::xtext(dsn.envelope_id);
    return p;
}

std::string rcpt_parameters(Transaction &t, const std::string &rcpt) {
    const options::DsnOptions &dsn = t.opts.dsn;
    if (!t.session.offers.dsn || !dsn.asked()) return {};
    std::string p;
    if (!dsn.notify.empty()) p += " NOTIFY=" + dsn.notify;
    std::string orcpt = " ORCPT=rfc822;" + dsn::xtext(rcpt);
    // ORCPT is optional: left out where the line would outgrow a command
    if (!holds_8bit(rcpt) && rcpt.size() + p.size() + orcpt.size() + 13 < kExchangeBuffer) p += orcpt;
    return p;
}

}  // namespace vellor::smtp
