// The accounts file: an INI file of relay accounts for `vellor sendmail`,
// `vellor send --account` and the queue. It is $VELLOR_ACCOUNTS, else
// $XDG_CONFIG_HOME/vellor/accounts (~/.config/vellor/accounts), else
// /etc/vellor/accounts. One "[NAME]" section per account, "key = value"
// lines of the known keys, "#" comments and blank lines. It never holds a
// password: only commands that print one (or a token), and a file holding
// a command is refused when others than its user (and root) may change it,
// and so is an account whose queue folder others may write into.
// Every refusal names the file and, for a line, its number.
#pragma once
#include <optional>
#include <string>
#include <vector>

namespace cli {

constexpr int kExitConfig = 78;  // EX_CONFIG: the accounts file is missing or refused

struct Account {
    std::string name, host, tls, ca_file, user, password_cmd, oauth2_token_cmd, from;
    std::string dkim_domain, dkim_selector, dkim_key, queue;
    int port = 0;                               // 0: not given
    long long queue_max_age = 5LL * 24 * 3600;  // seconds a queued message may wait
};

// The accounts file in use, or empty (with the places looked at in `error`).
std::string accounts_path(std::string &error);
// Every account of the file, in order; nullopt with the reason.
std::optional<std::vector<Account>> read_accounts(const std::string &path, std::string &error);
// One account of the file in use ("default" when `name` is empty).
std::optional<Account> load_account(const std::string &name, std::string &error);

}  // namespace cli
