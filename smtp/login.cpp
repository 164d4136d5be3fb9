// The login: encoding of the login data once per send call, when the first
// login is due (in memory, the whole values, see auth_encode.h; the user and
// password are the ones the delivery took from the request when the send
// began, and the encoded forms go back to it, Session::show_login_forms),
// and the login exchanges that run right
// after a greeting reply containing "250". Every line of login data goes
// only after a "334" asking for it (or as the initial response of the AUTH
// command itself); the reply that follows it is masked in the dialogue.
// The classic dialogue (HELO, no option that shapes the login):
//  relay variant: AUTH LOGIN (reply "334"), else AUTH PLAIN ("334") and one
//                 Base64 line of "\0user\0password"; a user name not
//                 answered "334" fails with 917 and the password is not
//                 sent; "535" to the password is only logged, "235"
//                 accepts, anything else fails with 917.
//  batch variant: AUTH LOGIN only; user name not answered "334" fails with
//                 917, password "535" fails with 917, "235" accepts.
// Under EHLO with SecureConnection, Pipelining, an OAuth2Token or an
// AuthMechanism, the mechanism comes from the server's AUTH list (see
// login_mechanisms.cpp).
#include "smtp/auth_encode.h"
#include "smtp/transaction.h"
#include "support/text.h"
#include "support/report_texts.h"

namespace vellor::smtp {

bool has_login(const Transaction &t) {
    const LoginState &l = t.session.login;
    return !l.user.empty() && (!l.password.empty() || !t.opts.oauth2_token.empty());
}

void encode_login_data(Transaction &t) {
    LoginState &l = t.session.login;
    if (l.encoded || !has_login(t)) return;
    l.plain_user = l.user;
    l.plain_password = l.password;
    EncodedLogin encoded = SMTP_Encode_Auth_Data(l.user, l.password);
    l.encoded_user = encoded.user;
    l.encoded_password = encoded.password;
    l.encoded = true;
    t.session.show_login_forms(encoded);
    t.session.report(Where::callback_then_log, 921, 0, t.session.prefixed(texts::kLoginEncoded));
}

void login_accepted(Transaction &t) {
    std::string line = t.numbered(texts::kLoginAccepted);
    t.session.report(Where::log, 0, 0, line);
    t.session.show_error(0);
    t.session.report(Where::callback, 921, 0, line);
}

namespace {

// "AUTH LOGIN" or "AUTH PLAIN": true when answered "334" (after a non-empty read).
bool offer(Transaction &t, const char *mechanism, int &got) {
    t.x.command("AUTH %s\r\n", mechanism);
    got = t.x.read_reply();
    return got > 0 && t.x.reply().code == 334;
}

// One line of login data, after the "334" that asked for it.
void credential(Transaction &t, const std::string &line) {
    t.x.secret_line(line, "****");
    t.x.read_reply();
}

}  // namespace

bool login_user_then_password(Transaction &t) {
    credential(t, t.session.login.encoded_user);
    if (t.x.reply().code != 334) {
        t.fail(917, texts::kLoginUserRefused);
        return false;
    }
    credential(t, t.session.login.encoded_password);
    return true;
}

void login_conversation(Transaction &t) {
    int got = 0;
    bool plain = false;
    if (!offer(t, "LOGIN", got)) {
        if (got <= 0 || !offer(t, "PLAIN", got)) return;  // no login, no failure
        plain = true;
    }
    if (plain)
        credential(t, sasl_plain(t.session.login.plain_user, t.session.login.plain_password));
    else if (!login_user_then_password(t))
        return;
    if (t.x.reply().code == 535) {
        t.session.report(Where::log, 0, 0, t.numbered(plain ? texts::kPlainRefused : texts::kLoginRefused));
    } else if (t.x.reply().code == 235) {
        login_accepted(t);
    } else {
        t.fail(917, texts::kLoginUserRefused);
    }
}

void login_batch(Transaction &t) {
    t.x.command("AUTH LOGIN\r\n");
    t.x.read_reply();
    if (t.x.reply().code != 334) return;
    if (!login_user_then_password(t)) return;
    if (t.x.reply().code == 535)
        t.fail(917, texts::kLoginPasswordRefused);
    else if (t.x.reply().code == 235)
        login_accepted(t);
}

// Every credential of the call, and every line of login data it may send
// with them, is masked wherever a later reply quotes it.
static void hide_credentials(Transaction &t) {
    const LoginState &l = t.session.login;
    const std::string &token = t.opts.oauth2_token;
    if (!l.plain_password.empty())
        for (const std::string &s : {l.plain_password, l.encoded_password, sasl_plain(l.plain_user, l.plain_password)})
            t.x.add_secret(s);
    if (!token.empty())
        for (const std::string &s : {token, sasl_xoauth2(l.plain_user, token), sasl_oauthbearer(l.plain_user, token)})
            t.x.add_secret(s);
}

void login(Transaction &t) {
    hide_credentials(t);
    if (t.opts.extended() && login_by_server_list(t)) return;
    t.whole_conversation() ? login_conversation(t) : login_batch(t);
}

}  // namespace vellor::smtp
