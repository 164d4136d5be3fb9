// The session from the connection to the end of the greeting, by the
// SecureConnection option:
//  0 (the default) - the greeting (not judged), then HELO, as always;
//  1 STARTTLS      - the greeting, EHLO, which must list STARTTLS, STARTTLS
//                    answered "220", the handshake, then EHLO again and on
//                    as after HELO (login, MAIL FROM, ...);
//  2 TLS at once   - the handshake before the greeting, then EHLO (HELO only
//                    when the server refuses EHLO) and on as after HELO;
//  3 opportunistic - the greeting, EHLO (HELO when refused), STARTTLS when the
//                    server offers it and EHLO again, else on in the clear.
//                    The certificate is checked and the log says how it went,
//                    but a failed check does not stop the message; a failed
//                    handshake closes the connection and the same server is
//                    connected again and spoken to in the clear;
//  4 by MX         - as the delivery chose for the exchanger in hand
//                    (t.msg.protection): DANE, or MTA-STS enforce, as 1 with
//                    the certificate checked against the exchanger's name
//                    (DANE: against its TLSA records), reports and log
//                    saying which; MTA-STS testing as 3 with that check,
//                    a failed one reported; otherwise (a relay too) as 3.
// With the Pipelining option on, or for a sender or recipient holding UTF-8,
// the plain session greets with EHLO too (HELO when it is refused), to learn
// whether the server offers PIPELINING or SMTPUTF8; so does a login the
// record's options shape (an OAuth 2.0 token, a mechanism), to learn which
// logins the server takes. The options are the transaction's, read once.
// A secure session that cannot be had fails before any login or envelope
// is sent: code 907 and a report saying why. The certificate is checked
// against the server's name handed over (the relay's, or the recipient's
// domain for MX delivery), or the address dialled without one; TLSVerifyPeer 0
// turns the check off and says so in the log.
#include "smtp/ehlo.h"
#include "smtp/transaction.h"
#include "support/address_literal.h"
#include "support/options.h"
#include "support/text.h"
#include "transport/companion.h"
#include "support/report_texts.h"

namespace vellor::smtp {
namespace {

constexpr int kSecureFailed = 907;

using Kind = Protection::Kind;

// The protection the exchanger in hand gets under SecureConnection 4.
const Protection *protection(const Transaction &t) {
    return t.opts.secure_connection == 4 && t.msg.protection.kind != Kind::Opportunistic ? &t.msg.protection : nullptr;
}

// What demanded a secure session, as its failure's report names it.
const char *demanded_by(const Protection &p) {
    return p.kind == Kind::StsEnforce || p.kind == Kind::StsTesting ? texts::kByMtaSts : texts::kByDane;
}

// A required secure session failed: 907, named after what demanded it.
void refuse(Transaction &t, const std::string &text) {
    const Protection *p = protection(t);
    if (p && p->required()) t.session.protection_refused = true;
    t.fail(kSecureFailed, p && p->required() ? fill(texts::kDemandedBy, {demanded_by(*p), text}) : text);
}

// Under MTA-STS testing, a check that failed is reported; the message goes.
void testing_failed(Transaction &t, const std::string &why) {
    const Protection *p = protection(t);
    if (!p || p->kind != Kind::StsTesting) return;
    std::string text = format(texts::kStsTestingFailed, p->exchanger.c_str(), p->domain.c_str(), why.c_str());
    t.session.report(Where::log, 0, 0, t.numbered(text));
    t.session.report(Where::callback, 921, 0, text);
}

transport::TlsPeer tls_peer(Transaction &t) {
    transport::TlsPeer peer;
    if (const Protection *p = protection(t)) {  // the exchanger's own name, whatever TLSVerifyPeer says
        peer.name = p->exchanger;
        peer.dane = p->tlsa;
        peer.verify = p->kind != Kind::DaneTlsOnly;
        peer.ca_file = t.opts.tls_ca_file;
        return peer;
    }
    const std::string &server = t.msg.server;
    std::string literal = literal_address(server, true);  // a certificate names an address without brackets
    peer.name = server.empty() ? t.session.connected_address() : literal.empty() ? server : literal;
    peer.verify = t.opts.tls_verify_peer != 0;
    peer.ca_file = t.opts.tls_ca_file;
    return peer;
}

// The greeting, not judged; one by which the server limits its connections
// is noted (Session::limit_reason) for a pass over several connections.
void read_greeting(Transaction &t) {
    t.x.read_reply();
    if (limits_connections(t.x.reply())) t.session.limit_reason = t.x.first_line();
}

bool handshake(Transaction &t) {
    transport::TlsPeer peer = tls_peer(t);
    std::string why;
    if (!t.session.start_tls(peer, why)) {
        refuse(t, format(texts::kSecureConnectionFailed, t.session.connected_address().c_str(), why.c_str()));
        return false;
    }
    if (const Protection *p = protection(t)) {
        std::string text = fill(p->kind == Kind::Dane          ? texts::kDaneMatched
                                : p->kind == Kind::DaneTlsOnly ? texts::kDaneTlsOnly
                                                               : texts::kStsVerified,
                                {peer.name});
        t.session.report(Where::log, 0, 0, t.numbered(text));
        t.session.report(Where::callback, 921, 0, text);
    }
    if (!peer.verify) t.session.report(Where::log, 0, 0, t.numbered(format(texts::kNotVerified, peer.name.c_str())));
    t.x.restart();  // nothing read in the clear carries over
    t.x.note(fill(t.session.resumed() ? texts::kTlsResumed : texts::kTlsStarted, {peer.name}));
    return true;
}

// EHLO answered "250", its offers noted; false (HELO sent instead) otherwise.
bool greet_ehlo(Transaction &t) {
    std::string name = hello_name(t);
    if (t.x.command("EHLO %s\r\n", name.c_str()) != -1 && t.x.read_reply() > 0 && t.x.reply().code == 250) {
        note_extensions(t);
        return true;
    }
    step_helo(t, "HELO");
    return false;
}

bool starttls(Transaction &t) {
    std::string name = hello_name(t);
    if (t.x.command("EHLO %s\r\n", name.c_str()) == -1 || t.x.read_reply() <= 0 || t.x.reply().code != 250) {
        refuse(t, texts::kEhloRefusedNoStarttls);
        return false;
    }
    if (!ehlo_extensions(t.x.reply()).count("STARTTLS")) {
        refuse(t, texts::kStarttlsRequired);
        return false;
    }
    if (t.x.command("STARTTLS\r\n") == -1 || t.x.read_reply() <= 0 || t.x.reply().code != 220) {
        refuse(t, format(texts::kStarttlsRefusedNothingSent, t.x.first_line().c_str()));
        return false;
    }
    return handshake(t);
}

// Opportunistic TLS: the greeting was read and EHLO answered "250". True
// when the session stands after an EHLO (the login is still to come).
bool opportunistic_tls(Transaction &t) {
    std::string addr = t.session.connected_address();
    if (!ehlo_extensions(t.x.reply()).count("STARTTLS")) {
        t.session.report(Where::log, 0, 0, t.numbered(format(texts::kNoStarttlsInClear, addr.c_str())));
        testing_failed(t, texts::kNoStarttlsOffered);
        return true;
    }
    if (t.x.command("STARTTLS\r\n") == -1 || t.x.read_reply() <= 0 || t.x.reply().code != 220) {
        t.session.report(Where::log, 0, 0, t.numbered(format(texts::kStarttlsRefusedInClear, addr.c_str())));
        testing_failed(t, texts::kStarttlsRefused);
        return true;
    }
    transport::TlsPeer peer = tls_peer(t);
    peer.enforce = false;
    std::string why;
    bool up = t.session.start_tls(peer, why);
    t.x.restart();  // nothing read before the handshake carries over
    if (!up) {
        t.session.report(Where::log, 0, 0, t.numbered(format(texts::kTlsFailedInClear, addr.c_str(), why.c_str())));
        testing_failed(t, why);
        t.session.close_socket();
        if (!t.session.connect(1)) {
            t.fail(907, format(texts::kNoReconnectAfterTls, addr.c_str()));
            return false;
        }
        read_greeting(t);
        return greet_ehlo(t);
    }
    t.session.report(Where::log, 0, 0,
                     t.numbered(why.empty() ? format(texts::kTlsVerified, addr.c_str(), peer.name.c_str())
                                            : format(texts::kTlsOpportunistic, addr.c_str(), why.c_str())));
    if (!why.empty()) testing_failed(t, why);
    t.x.note(fill(t.session.resumed() ? texts::kTlsResumed : texts::kTlsStarted, {peer.name}));
    return greet_ehlo(t);
}

// EHLO inside TLS from the start; HELO only when the server refuses EHLO.
void ehlo_or_helo(Transaction &t) {
    std::string name = hello_name(t);
    if (t.x.command("EHLO %s\r\n", name.c_str()) == -1) {
        step_helo(t, "HELO");
        return;
    }
    if (t.x.read_reply() <= 0 || t.x.reply().code != 250) {
        step_helo(t, "HELO");
        return;
    }
    note_extensions(t);
    if (has_login(t)) login(t);
}

}  // namespace

void open_session(Transaction &t) {
    t.session.offers = Offers{};
    if (!t.opts.unusable.empty()) {  // read again since the send's check: the file changed meanwhile
        t.fail(kSecureFailed, texts::kSendRefused + t.opts.unusable);
        return;
    }
    switch (t.opts.secure_connection) {
        case 1:
            read_greeting(t);
            if (starttls(t)) step_helo(t, "EHLO");
            return;
        case 2:
            if (!handshake(t)) return;
            read_greeting(t);
            ehlo_or_helo(t);
            return;
        case 3:
        case 4:
            read_greeting(t);
            if (protection(t) && protection(t)->required()) {
                if (starttls(t)) step_helo(t, "EHLO");
            } else if (greet_ehlo(t) && opportunistic_tls(t) && has_login(t)) {
                login(t);
            }
            return;
        default:
            read_greeting(t);
            if (t.opts.extended() || needs_smtputf8(t))
                ehlo_or_helo(t);  // EHLO tells whether the server pipelines, takes UTF-8, which logins
            else
                step_helo(t, "HELO");
    }
}

}  // namespace vellor::smtp
