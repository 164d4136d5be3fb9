// Reading and checking the accounts file; see accounts.h.
#include "accounts.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host_files.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

std::string trimmed(const std::string &text) {
    std::size_t from = text.find_first_not_of(" \t\r"), to = text.find_last_not_of(" \t\r");
    return from == std::string::npos ? "" : text.substr(from, to - from + 1);
}

// "30" (seconds), "45m", "12h", "5d": seconds, or -1.
long long duration(const std::string &text) {
    std::size_t digits = text.find_first_not_of("0123456789");
    if (digits == 0 || text.size() > 9 || (digits != std::string::npos && digits + 1 != text.size())) return -1;
    long long n = std::atoll(text.c_str());
    switch (digits == std::string::npos ? 's' : text.back()) {
        case 's':
            return n;
        case 'm':
            return n * 60;
        case 'h':
            return n * 3600;
        case 'd':
            return n * 86400;
        default:
            return -1;
    }
}

// Sets one key; false with what is wrong with the value.
bool set_key(Account &a, const std::string &key, const std::string &value, std::string &why) {
    std::string *text = key == "host"               ? &a.host
                        : key == "tls"              ? &a.tls
                        : key == "ca_file"          ? &a.ca_file
                        : key == "user"             ? &a.user
                        : key == "password_cmd"     ? &a.password_cmd
                        : key == "oauth2_token_cmd" ? &a.oauth2_token_cmd
                        : key == "from"             ? &a.from
                        : key == "dkim_domain"      ? &a.dkim_domain
                        : key == "dkim_selector"    ? &a.dkim_selector
                        : key == "dkim_key"         ? &a.dkim_key
                        : key == "queue"            ? &a.queue
                                                    : nullptr;
    if (text) {
        *text = value;
        if (key != "tls" || value == "none" || value == "starttls" || value == "tls") return true;
        why = "tls is none, starttls or tls";
        return false;
    }
    if (key == "port") {
        a.port = value.size() <= 5 && value.find_first_not_of("0123456789") == std::string::npos
                     ? std::atoi(value.c_str())
                     : 0;
        why = "port is a number from 1 to 65535";
        return a.port >= 1 && a.port <= 65535;
    }
    if (key == "queue_max_age") {
        a.queue_max_age = duration(value);
        why = "queue_max_age is a number of seconds, or of minutes, hours or days (45m, 12h, 5d)";
        return a.queue_max_age > 0;
    }
    why = "unknown key " + key;
    return false;
}

bool section_name(const std::string &line, std::string &name) {
    if (line.size() < 3 || line.front() != '[' || line.back() != ']') return false;
    name = line.substr(1, line.size() - 2);
    return name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-") ==
           std::string::npos;
}

// One line into the accounts read so far; false with the reason.
bool read_line(const std::string &raw, std::vector<Account> &accounts, std::string &why) {
    std::string line = trimmed(raw), name;
    if (line.empty() || line[0] == '#') return true;
    if (line[0] == '[') {
        why = "a section is [NAME] (letters, digits, '.', '_', '-')";
        if (!section_name(line, name)) return false;
        for (const Account &a : accounts)
            if (a.name == name) return why = "a second section [" + name + "]", false;
        accounts.push_back(Account{});
        accounts.back().name = name;
        return true;
    }
    std::size_t eq = line.find('=');
    if (eq == std::string::npos) return why = "not a [NAME] section, a key = value line or a # comment", false;
    if (accounts.empty()) return why = "a key before the first [NAME] section", false;
    std::string key = trimmed(line.substr(0, eq)), value = trimmed(line.substr(eq + 1));
    if (value.empty()) return why = key + " has no value", false;
    return set_key(accounts.back(), key, value, why);
}

// An account's keys that only make sense together.
std::string account_problem(const Account &a) {
    if (!a.password_cmd.empty() && !a.oauth2_token_cmd.empty())
        return "give password_cmd or oauth2_token_cmd, not both";
    if ((!a.password_cmd.empty() || !a.oauth2_token_cmd.empty()) && a.user.empty())
        return "a login (password_cmd, oauth2_token_cmd) needs user";
    if (!a.user.empty() && a.password_cmd.empty() && a.oauth2_token_cmd.empty())
        return "user needs password_cmd or oauth2_token_cmd (the file never holds a password)";
    return "";
}

}  // namespace

std::string accounts_path(std::string &error) {
    const char *given = std::getenv("VELLOR_ACCOUNTS");
    if (given && *given) return given;
    const char *xdg = std::getenv("XDG_CONFIG_HOME"), *home = std::getenv("HOME");
    std::string user = xdg && *xdg ? std::string(xdg) + "/vellor/accounts"
                       : home      ? std::string(home) + "/.config/vellor/accounts"
                                   : "";
    std::error_code ec;
    for (const std::string &path : {user, std::string("/etc/vellor/accounts")})
        if (!path.empty() && fs::exists(path, ec)) return path;
    error = "no accounts file (looked for " + (user.empty() ? "" : user + " and ") + "/etc/vellor/accounts)";
    return "";
}

std::optional<std::vector<Account>> read_accounts(const std::string &path, std::string &error) {
    std::error_code ec;
    std::ifstream in(path, std::ios::binary);
    if (!fs::is_regular_file(path, ec) || !in) {
        error = "cannot read the accounts file " + path;
        return std::nullopt;
    }
    std::vector<Account> accounts;
    std::string line, why;
    for (int number = 1; std::getline(in, line); ++number)
        if (!read_line(line, accounts, why)) {
            error = path + " line " + std::to_string(number) + ": " + why;
            return std::nullopt;
        }
    bool commands = false;
    for (const Account &a : accounts) {
        std::string problem = account_problem(a);
        if (!problem.empty()) {
            error = path + " [" + a.name + "]: " + problem;
            return std::nullopt;
        }
        commands = commands || !a.password_cmd.empty() || !a.oauth2_token_cmd.empty();
    }
    if (commands && host::others_can_write(path)) {
        error = path + " holds commands the tool runs, but others may change it: make it yours, mode 600 or 644";
        return std::nullopt;
    }
    for (const Account &a : accounts)
        if (!a.queue.empty() && fs::exists(a.queue, ec) && host::others_can_write(a.queue)) {
            error = path + " [" + a.name + "]: others may write into the queue folder " + a.queue +
                    ", and what they put there goes out through this account: make it yours, mode 700 or 755";
            return std::nullopt;
        }
    return accounts;
}

std::optional<Account> load_account(const std::string &name, std::string &error) {
    std::string path = accounts_path(error);
    if (path.empty()) return std::nullopt;
    auto accounts = read_accounts(path, error);
    if (!accounts) return std::nullopt;
    std::string wanted = name.empty() ? "default" : name;
    for (const Account &a : *accounts)
        if (a.name == wanted) return a;
    error = path + " has no account [" + wanted + "]";
    return std::nullopt;
}

}  // namespace cli
