// The login under EHLO, chosen from the server's AUTH list: with an OAuth
// 2.0 token, XOAUTH2 else OAUTHBEARER; without, PLAIN (one Base64 line as
// the initial response) else LOGIN; AuthMechanism forces one, or with ANY
// keeps that choice but requires the login (a server that lists no AUTH,
// or answered HELO, fails with 917 before any MAIL FROM). A mechanism
// not listed, a missing credential for it, or a refusal fails with 917
// before any MAIL FROM, the report carrying the server's reason (the JSON
// of a token refusal decoded) with every credential text masked. A server
// that lists no AUTH at all gets the classic login of the variant, unless
// a token or a mechanism was set.
// A refused token: XOAUTH2's "334" carrying the error is answered with an
// empty line, OAUTHBEARER's with the one byte 0x01 (RFC 7628), then the
// final reply is read.
#include <algorithm>
#include <utility>

#include "smtp/auth_encode.h"
#include "smtp/ehlo.h"
#include "smtp/transaction.h"
#include "support/text.h"
#include "support/report_texts.h"

namespace vellor::smtp {
namespace {

constexpr int kLoginFailed = 917;

bool listed(const std::vector<std::string> &offered, const std::string &m) {
    return std::find(offered.begin(), offered.end(), m) != offered.end();
}

std::string joined(const std::vector<std::string> &words) {
    std::string out;
    for (const auto &w : words) out += (out.empty() ? "" : " ") + w;
    return out.empty() ? texts::kNoneOffered : out;
}

bool token_mechanism(const std::string &m) { return m == "XOAUTH2" || m == "OAUTHBEARER"; }

// The choice, and what the report names when it is not listed.
std::pair<std::string, std::string> wanted_mechanism(const std::string &forced, bool token,
                                                     const std::vector<std::string> &offered) {
    if (!forced.empty() && forced != "AUTO" && forced != "ANY") return {forced, forced};
    if (token) return {listed(offered, "XOAUTH2") ? "XOAUTH2" : "OAUTHBEARER", texts::kEitherToken};
    return {listed(offered, "PLAIN") ? "PLAIN" : "LOGIN", texts::kEitherPassword};
}

// The mechanism to use, or empty after the failure report.
std::string choose(Transaction &t, const std::vector<std::string> &offered) {
    bool token = !t.opts.oauth2_token.empty();
    const auto [m, wanted] = wanted_mechanism(t.opts.auth_mechanism, token, offered);
    if (!listed(offered, m)) {
        t.fail(kLoginFailed, fill(texts::kNoOfferedLogin, {wanted, joined(offered)}));
        return {};
    }
    if (token_mechanism(m) ? !token : t.session.login.plain_password.empty()) {
        t.fail(kLoginFailed,
               fill(texts::kLoginNeeds, {m, token_mechanism(m) ? texts::kNeedsToken : texts::kNeedsPassword}));
        return {};
    }
    return m;
}

// The server's reason for a refusal: a challenge's decoded JSON, then the
// final reply's first line; control characters dropped, every credential
// masked before it is cut to a report's length.
std::string reason(const Transaction &t, const std::string &challenge) {
    std::string why =
        challenge.empty() ? t.x.first_line() : fill(texts::kChallengeThenReply, {challenge, t.x.first_line()});
    std::string out;
    for (char c : why)
        if (static_cast<unsigned char>(c) >= 0x20) out += c;
    return t.session.secrets.shown(out, 400);  // a report line, not a stored value
}

void refused(Transaction &t, const std::string &m, const std::string &challenge) {
    const char *what = token_mechanism(m) ? texts::kWhatToken : texts::kWhatLogin;
    t.fail(kLoginFailed, fill(texts::kMechanismRefused, {m, what, reason(t, challenge)}));
}

std::string initial_response(Transaction &t, const std::string &m) {
    const LoginState &l = t.session.login;
    if (m == "PLAIN") return sasl_plain(l.plain_user, l.plain_password);
    if (m == "XOAUTH2") return sasl_xoauth2(l.plain_user, t.opts.oauth2_token);
    return sasl_oauthbearer(l.plain_user, t.opts.oauth2_token);
}

// PLAIN, XOAUTH2, OAUTHBEARER: the AUTH command with its initial response.
void login_with_initial_response(Transaction &t, const std::string &m) {
    t.x.secret_line("AUTH " + m + " " + initial_response(t, m), "AUTH " + m + " ****");
    t.x.read_reply();
    if (t.x.reply().code == 235) {
        login_accepted(t);
        return;
    }
    std::string challenge;
    if (t.x.reply().code == 334 && token_mechanism(m)) {  // the error, as JSON in Base64
        challenge = t.x.challenge();
        t.x.secret_line(m == "XOAUTH2" ? "" : base64_line("\x01"), "");
        t.x.read_reply();
    }
    refused(t, m, challenge);
}

void login_user_password(Transaction &t) {
    t.x.command("AUTH LOGIN\r\n");
    t.x.read_reply();
    if (t.x.reply().code != 334) return refused(t, "LOGIN", {});
    if (!login_user_then_password(t)) return;
    if (t.x.reply().code == 235)
        login_accepted(t);
    else
        refused(t, "LOGIN", {});
}

}  // namespace

bool login_by_server_list(Transaction &t) {
    std::vector<std::string> offered = ehlo_auth_mechanisms(t.x.reply());
    bool shaped = !t.opts.oauth2_token.empty() || (!t.opts.auth_mechanism.empty() && t.opts.auth_mechanism != "AUTO");
    if (offered.empty() && !shaped) return false;
    std::string m = choose(t, offered);
    if (m.empty()) return true;
    if (m == "LOGIN")
        login_user_password(t);
    else
        login_with_initial_response(t, m);
    return true;
}

}  // namespace vellor::smtp
