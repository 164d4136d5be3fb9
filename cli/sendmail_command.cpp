// vellor sendmail: one message from standard input handed to the account's
// relay, as programs expect of /usr/sbin/sendmail. Recipients come from the
// arguments, and with -t also from To, Cc and Bcc; a Bcc field is never
// sent. A message without From or Date gets them. The send itself is
// `vellor send`'s (send_request.h), with its exit statuses; a message that
// cannot go now (75) waits in the account's queue when it has one, and the
// status is then 0.
#include <cstdio>
#include <ctime>
#include <iostream>
#include <iterator>

#include "account_send.h"
#include "commands.h"
#include "exit_codes.h"
#include "mail_commands.h"
#include "mail_queue.h"
#include "message_headers.h"
#include "send_guards.h"

namespace cli {
namespace {

enum class Mode { Send, List, Flush };

struct SendmailArgs {
    std::string account, from, full_name;
    bool ignore_dots = false, from_headers = false, verbose = false;
    Mode mode = Mode::Send;
    std::vector<std::string> recipients;
};

int usage(const std::string &text) {
    std::fprintf(stderr, "vellor sendmail: %s\n", text.c_str());
    return kExitUsage;
}

// Options that take a value, attached ("-fADDR") or as the next argument.
bool takes_value(char flag) { return std::string("fFrNRVXBChLO").find(flag) != std::string::npos; }

// One option (args[i] starts with '-'); false with the reason when refused.
// The compatibility options (-odi, -oem, -om, -U, -N never, ...) are
// accepted and ignored.
bool read_option(const std::vector<std::string> &args, std::size_t &i, SendmailArgs &a, std::string &why) {
    const std::string &arg = args[i];
    char flag = arg[1];
    if (takes_value(flag)) {
        std::string value = arg.substr(2);
        if (value.empty() && ++i >= args.size()) return why = arg + " needs a value", false;
        if (value.empty()) value = args[i];
        if (flag == 'f' || flag == 'r') a.from = value;
        if (flag == 'F') a.full_name = value;
        return true;
    }
    if (arg == "-t")
        a.from_headers = true;
    else if (arg == "-i" || arg == "-oi")
        a.ignore_dots = true;
    else if (arg == "-v")
        a.verbose = true;
    else if (arg == "-bp")
        a.mode = Mode::List;
    else if (flag == 'q')
        a.mode = Mode::Flush;
    else if (flag == 'b' && arg != "-bm")
        return why = arg + ": the modes are -bm (send) and -bp (list the queue)", false;
    else if (flag != 'b' && flag != 'o' && arg != "-U" && arg != "-G" && arg != "-n" && arg != "-m" &&
             !(flag == 'e' && arg.size() == 3))
        return why = "unknown option " + arg, false;
    return true;
}

bool read_args(const std::vector<std::string> &args, SendmailArgs &a, std::string &why) {
    bool options = true;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (options && arg == "--") {
            options = false;
        } else if (options && (arg == "--account" || arg.rfind("--account=", 0) == 0)) {
            if (arg == "--account" && ++i >= args.size()) return why = "--account needs a name", false;
            a.account = arg == "--account" ? args[i] : arg.substr(10);
        } else if (options && arg.size() > 1 && arg[0] == '-') {
            if (!read_option(args, i, a, why)) return false;
        } else {
            for (const std::string &r : address_list(arg)) a.recipients.push_back(r);
        }
    }
    return true;
}

// Without -i, a line holding a single "." ends the message.
std::string up_to_lone_dot(const std::string &text) {
    for (std::size_t at = 0; at < text.size();) {
        if (text.compare(at, 2, ".\n") == 0 || text.compare(at, 3, ".\r\n") == 0 ||
            text.compare(at, std::string::npos, ".") == 0)
            return text.substr(0, at);
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return text;
}

std::string date_now() {
    std::time_t now = std::time(nullptr);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S +0000", std::gmtime(&now));
    return text;
}

// -F's name as a quoted string: quotes and backslashes escaped, a line
// break a blank (it never starts a field of its own).
std::string quoted_name(const std::string &name) {
    std::string out = "\"";
    for (char c : name)
        out += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c == '\r' || c == '\n' ? ' ' : c);
    return out + "\"";
}

// The message as it goes: no Bcc field; From and Date when it has none.
std::string prepared(std::string text, const SendmailArgs &a, const std::string &sender) {
    text = without_field(text, "Bcc");
    std::string eol = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    std::string added;
    if (!has_field(text, "From"))
        added += "From: " + (a.full_name.empty() ? sender : quoted_name(a.full_name) + " <" + sender + ">") + eol;
    if (!has_field(text, "Date")) added += "Date: " + date_now() + eol;
    return added + text;
}

void add_unique(std::vector<std::string> &list, const std::string &address) {
    for (const std::string &r : list)
        if (equal_nocase(r, address)) return;
    list.push_back(address);
}

int send_or_queue(const Account &account, SendOptions &o) {
    int status = run_send(o);
    if (status != kExitTempFail || account.queue.empty()) return status;
    std::string name, error;
    if (!enqueue(account.queue, o.from, o.to, with_crlf(*o.text), name, error)) {
        std::fprintf(stderr, "vellor sendmail: cannot queue the message: %s\n", error.c_str());
        return kExitTempFail;
    }
    std::fprintf(stderr, "vellor sendmail: the message waits in %s/%s; `vellor queue flush` sends it\n",
                 account.queue.c_str(), name.c_str());
    return kExitOk;
}

}  // namespace

int run_sendmail(const std::vector<std::string> &args) {
    SendmailArgs a;
    std::string why;
    if (!read_args(args, a, why)) return usage(why);
    if (a.mode == Mode::List) return queue_list(a.account);
    if (a.mode == Mode::Flush) return queue_flush(a.account, 0, a.verbose);
    auto account = load_account(a.account, why);
    if (!account) {
        std::fprintf(stderr, "vellor sendmail: %s\n", why.c_str());
        return kExitConfig;
    }
    std::string text((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    if (!a.ignore_dots) text = up_to_lone_dot(text);
    SendOptions o;
    apply_account(*account, o, [](const char *) { return false; });
    if (!a.from.empty()) o.from = a.from;
    if (o.from.empty()) return usage("no sender: give -f ADDRESS, or from in the account [" + account->name + "]");
    for (const std::string &r : a.recipients) add_unique(o.to, r);
    if (a.from_headers)
        for (const std::string &r : header_addresses(text, {"To", "Cc", "Bcc"})) add_unique(o.to, r);
    if (o.to.empty()) return usage("no recipient: give addresses, or -t to read them from To, Cc and Bcc");
    o.text = prepared(text, a, o.from);
    o.quiet = !a.verbose;
    o.verbose = a.verbose;
    return send_or_queue(*account, o);
}

Action add_sendmail(CLI::App &app) {
    app.prefix_command();
    app.allow_extras();
    app.set_help_flag();
    app.footer("sendmail [-t] [-i] [-f ADDRESS] [-F NAME] [-v] [--account NAME] [recipient...]: see vellor(1)");
    CLI::App *self = &app;
    return [self] { return run_sendmail(self->remaining()); };
}

}  // namespace cli
