// The login: encoding of the login data once per send call (in memory; the
// whole values, see auth_encode.h), and the two
// login exchanges that run right after a HELO reply containing "250".
//  conversation variant (a whole conversation): AUTH LOGIN (reply "334"), else AUTH PLAIN ("334") with the
//                 caller's own texts as two plain lines; "535" to the
//                 password is only logged, "235" accepts, anything else
//                 fails with 917.
//  batch variant: AUTH LOGIN only; user name not answered "334" fails with
//                 917, password "535" fails with 917, "235" accepts.
#include "smtp/auth_encode.h"
#include "smtp/transaction.h"
#include "support/text.h"

namespace vellor::smtp {

void encode_login_data(Transaction &t) {
    SMTPSEND_STRUCTURE *r = t.req();
    if (t.call.login.encoded || empty(r->szAuthUser) || empty(r->szAuthPassword)) return;
    t.call.login.plain_user = field_text(r->szAuthUser);
    t.call.login.plain_password = field_text(r->szAuthPassword);
    EncodedLogin encoded = SMTP_Encode_Auth_Data(r->szAuthUser, r->szAuthPassword);
    t.call.login.encoded_user = encoded.user;
    t.call.login.encoded_password = encoded.password;
    t.call.login.encoded = true;
    t.call.status_then_log(921, 0, t.call.prefixed("Authentication data received and encoded"));
}

namespace {

void accepted(Transaction &t) {
    std::string line = t.numbered("Authentication details accepted by server...");
    t.call.log(line);
    t.req()->nErrorCode = 0;
    t.call.status(921, 0, line);
}

// "AUTH LOGIN" or "AUTH PLAIN": true when answered "334" (after a non-empty read).
bool offer(Transaction &t, const char *mechanism, int &got) {
    t.x.command("AUTH %s\r\n", mechanism);
    got = t.x.read_reply();
    return got > 0 && t.x.begins("334");
}

}  // namespace

void login_conversation(Transaction &t) {
    int got = 0;
    bool plain = false;
    if (!offer(t, "LOGIN", got)) {
        if (got <= 0 || !offer(t, "PLAIN", got)) return;  // no login, no failure
        plain = true;
    }
    std::string user = plain ? t.call.login.plain_user : t.call.login.encoded_user;
    std::string password = plain ? t.call.login.plain_password : t.call.login.encoded_password;
    t.x.mark_secret();
    t.x.command("%s\r\n", user.c_str());
    t.x.read_reply();
    t.x.mark_secret();
    t.x.command("%s\r\n", password.c_str());
    t.x.read_reply();
    if (t.x.begins("535")) {
        t.call.log(t.numbered(plain ? "SMTP AUTH PLAIN Authentication was refused by server..."
                                    : "SMTP AUTH LOGIN Authentication was refused by server..."));
    } else if (t.x.begins("235")) {
        accepted(t);
    } else {
        t.fail(917, "Authentication user name was refused by server...");
    }
}

void login_batch(Transaction &t) {
    t.x.command("AUTH LOGIN\r\n");
    t.x.read_reply();
    if (!t.x.begins("334")) return;
    t.x.mark_secret();
    t.x.command("%s\r\n", t.call.login.encoded_user.c_str());
    t.x.read_reply();
    if (!t.x.begins("334")) {
        t.fail(917, "Authentication user name was refused by server...");
        return;
    }
    t.x.mark_secret();
    t.x.command("%s\r\n", t.call.login.encoded_password.c_str());
    t.x.read_reply();
    if (t.x.begins("535"))
        t.fail(917, "Authentication password was refused by server...");
    else if (t.x.begins("235"))
        accepted(t);
}

}  // namespace vellor::smtp
