// The session from the connection to the end of the greeting, by the
// SecureConnection option:
//  0 (the default) - the greeting (not judged), then HELO, as always;
//  1 STARTTLS      - the greeting, EHLO, which must list STARTTLS, STARTTLS
//                    answered "220", the handshake, then EHLO again and on
//                    as after HELO (login, MAIL FROM, ...);
//  2 TLS at once   - the handshake before the greeting, then EHLO (HELO only
//                    when the server refuses EHLO) and on as after HELO.
// With the Pipelining option on, the plain session greets with EHLO too (HELO
// when it is refused), to learn whether the server offers PIPELINING.
// A secure session that cannot be had fails before any login or envelope
// is sent: code 907 and a report saying why. The certificate is checked
// against the relay's name in szServer (the recipient's domain for MX
// delivery), or the address dialled when szServer is empty; TLSVerifyPeer 0
// turns the check off and says so in the log.
#include "smtp/ehlo.h"
#include "smtp/transaction.h"
#include "support/options.h"
#include "support/text.h"
#include "transport/companion.h"

namespace vellor::smtp {
namespace {

constexpr int kSecureFailed = 907;

transport::TlsPeer tls_peer(Transaction &t) {
    transport::TlsPeer peer;
    std::string server = fs(t.req()->szServer);
    peer.name = server.empty() ? transport::host_address(t.session()) : server;
    peer.verify = options::tls_verify_peer() != 0;
    peer.ca_file = options::tls_ca_file();
    return peer;
}

bool handshake(Transaction &t) {
    transport::TlsPeer peer = tls_peer(t);
    std::string why;
    if (!t.call.start_tls(peer, why)) {
        t.fail(kSecureFailed, format("Secure connection to [%s] failed: %s",
                                     transport::host_address(t.session()).c_str(), why.c_str()));
        return false;
    }
    if (!peer.verify)
        t.call.log(t.numbered(
            format("TLS certificate of [%s] not verified: the TLSVerifyPeer option is 0", peer.name.c_str())));
    t.x.restart();  // nothing read in the clear carries over
    t.x.note("TLS started with [" + peer.name + "]");
    return true;
}

bool starttls(Transaction &t) {
    std::string name = hello_name(t);
    if (t.x.command("EHLO %s\r\n", name.c_str()) == -1 || t.x.read_reply() <= 0 || !t.x.begins("250")) {
        t.fail(kSecureFailed, "Server refused EHLO: STARTTLS cannot be asked for, nothing sent...");
        return false;
    }
    if (!ehlo_extensions(t.x.full_reply()).count("STARTTLS")) {
        t.fail(kSecureFailed, "Server does not offer STARTTLS: a secure connection is required, nothing sent...");
        return false;
    }
    if (t.x.command("STARTTLS\r\n") == -1 || t.x.read_reply() <= 0 || !t.x.begins("220")) {
        t.fail(kSecureFailed, format("Server refused STARTTLS [%s]: nothing sent...", t.x.first_line().c_str()));
        return false;
    }
    return handshake(t);
}

// EHLO inside TLS from the start; HELO only when the server refuses EHLO.
void ehlo_or_helo(Transaction &t) {
    std::string name = hello_name(t);
    if (t.x.command("EHLO %s\r\n", name.c_str()) == -1) {
        step_helo(t, "HELO");
        return;
    }
    if (t.x.read_reply() <= 0 || !t.x.begins("250")) {
        step_helo(t, "HELO");
        return;
    }
    note_extensions(t);
    SMTPSEND_STRUCTURE *r = t.req();
    if (!empty(r->szAuthUser) && !empty(r->szAuthPassword)) login(t);
}

}  // namespace

void open_session(Transaction &t) {
    switch (options::secure_connection()) {
        case 1:
            t.x.read_reply();  // greeting, not judged
            if (starttls(t)) step_helo(t, "EHLO");
            return;
        case 2:
            if (!handshake(t)) return;
            t.x.read_reply();  // greeting, not judged
            ehlo_or_helo(t);
            return;
        default:
            t.x.read_reply();  // greeting, not judged
            if (t.opts.pipelining)
                ehlo_or_helo(t);  // EHLO tells whether the server pipelines
            else
                step_helo(t, "HELO");
    }
}

}  // namespace vellor::smtp
