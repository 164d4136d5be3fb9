// Relay sessions kept open between calls (the KeepConnection option, in
// seconds; 0 is the classic close after each call). What a later call must
// match to reuse one is its key: the relay's name and address, the port,
// the local address, the security settings (SecureConnection, TLSVerifyPeer,
// TLSCAFile), the greeting (EHLO or HELO, the HELO name) and the login (user,
// password or token, mechanism, as the login would send them), hashed (transport/kept_connections.h: the
// pool sees only the digest, so no credential is kept). A session is kept
// only after a message it carried was accepted and every reply due was
// read, with nothing pending on it; one that failed, broke or heard 421 is
// ended as always. A kept session found closed by the server (its close or
// a 421 waiting) is ended and the next one, or a new connection, is taken:
// the call does not fail for it.
#include "smtp/ehlo.h"
#include "smtp/transaction.h"
#include "support/text.h"
#include "transport/kept_connections.h"
#include "support/report_texts.h"

namespace vellor::smtp {
namespace {

std::string key_of(Transaction &t) {
    const options::MessageOptions &o = t.opts;
    std::string k;
    for (const std::string &part :
         {t.msg.server, t.msg.server_ip, std::to_string(t.session.port()), t.session.source,
          std::to_string(o.secure_connection), std::to_string(o.tls_verify_peer), o.tls_ca_file,
          std::string(o.extended() || needs_smtputf8(t) ? "EHLO " : "HELO ") + hello_name(t),
          t.session.login.plain_user, t.session.login.plain_password, o.oauth2_token, o.auth_mechanism})
        k.append(std::to_string(part.size())).append(":").append(part);  // lengths first: no two tuples alike
    return transport::kept::digest(k);
}

void tell(Transaction &t, const std::string &text) {
    t.x.note(text);
    t.session.report(Where::callback_then_log, 921, 0, t.numbered(text));
}

}  // namespace

bool reuse_kept_session(Transaction &t, bool take) {
    t.session.keep_key.clear();
    if (!t.session.relay || t.opts.keep_connection <= 0 || !transport::kept::accepting()) return false;
    t.session.keep_key = key_of(t);
    if (t.session.socket() != 0 || !take) return false;
    while (std::optional<transport::kept::Kept> k = transport::kept::take(t.session.keep_key)) {
        std::string note = std::move(k->note);
        t.session.adopt(std::move(k->line));
        if (!t.session.idle_open()) {  // closed by the server meanwhile, or a 421 waiting
            t.session.close_socket();
            tell(t, texts::kKeptReplaced);
            continue;
        }
        t.session.ehlo_text = std::move(note);
        t.session.offers = ehlo_offers(parse_reply({}, t.session.ehlo_text, {}));  // its lines, as when read
        t.session.peer_pipelines = t.session.offers.pipelining;
        tell(t, format(texts::kKeptReused, t.session.connected_address().c_str()));
        return true;
    }
    return false;
}

void replace_stale_session(Transaction &t) {
    t.session.close_socket();
    t.session.show_error(0);
    t.session.report(Where::callback_then_log, 921, 0, t.numbered(texts::kKeptReplaced));
}

bool keeps_session(const Transaction &t) { return !t.failed && !t.session.keep_key.empty(); }

bool keep_session(Session &session, Exchange &x, int seconds) {
    bool sure = !session.keep_key.empty() && session.socket() != 0 && !x.broken() && x.reply().code != 421 &&
                session.finals.due.empty() && session.finals.held.empty();
    if (!sure) return false;
    std::string text = format(texts::kKeptFor, session.connected_address().c_str(), seconds);
    x.note(text);
    session.report(Where::callback_then_log, 921, 0, session.prefixed(text));
    transport::kept::Kept k{session.release(), session.ehlo_text, "QUIT\r\n"};
    transport::kept::keep(session.keep_key, std::move(k), std::chrono::seconds(seconds));
    session.keep_key.clear();
    return true;
}

}  // namespace vellor::smtp
