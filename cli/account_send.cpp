// An account as the options of a send; see account_send.h.
#include "account_send.h"

#include <cstdlib>

#include "send_guards.h"
#include "system.h"

namespace cli {
namespace {

void fill(std::string &field, const std::string &value, bool given) {
    if (!given && !value.empty()) field = value;
}

}  // namespace

void apply_account(const Account &a, SendOptions &o, const std::function<bool(const char *)> &given) {
    bool address = is_dotted_ipv4(a.host);
    if (!given("--server") && !given("--server-ip")) fill(address ? o.server_ip : o.server, a.host, false);
    if (!given("--port") && a.port) o.port = a.port;
    if (!given("--starttls") && !given("--tls") && !given("--no-tls") && !a.tls.empty()) {
        o.starttls = a.tls == "starttls";
        o.tls = a.tls == "tls";
        o.no_tls = a.tls == "none";
    }
    fill(o.ca_file, a.ca_file, given("--ca-file"));
    fill(o.from, a.from, given("--from"));
    fill(o.dkim_domain, a.dkim_domain, given("--dkim-domain"));
    fill(o.dkim_selector, a.dkim_selector, given("--dkim-selector"));
    fill(o.dkim_key, a.dkim_key, given("--dkim-key"));
    if (given("--user")) return;  // a login of the command line's own
    fill(o.user, a.user, false);
    if (!o.token.given()) o.token.command = a.oauth2_token_cmd;
    fill(o.password_cmd, a.password_cmd, given("--password-file"));
}

std::optional<std::string> password_from_command(const std::string &command, std::string &error) {
    const char *env_wait = std::getenv("KORVEXAPI_TIMEOUT_MS");
    long wait_ms = env_wait && std::atol(env_wait) > 0 ? std::atol(env_wait) : 60000;
    auto out = sys::command_output(command, wait_ms, 4096, error);
    if (!out) {
        std::size_t at = error.find("token command");
        if (at != std::string::npos) error.replace(at, 5, "password");
        return std::nullopt;
    }
    std::string line = out->substr(0, out->find('\n'));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) error = "the password command printed nothing";
    return line.empty() ? std::nullopt : std::optional<std::string>(line);
}

}  // namespace cli
