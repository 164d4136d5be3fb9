// vellor queue list|flush: the accounts' mail queues (see mail_queue.h).
// A flush first moves the messages past their account's queue_max_age to
// DIR/failed, then sends the rest with `vellor send --envelope --delete`
// over the account's relay (claimed file by file, so flushes and senders
// can run at once), pass after pass while each pass sends something.
#include <cstdio>
#include <set>

#include "account_send.h"
#include "commands.h"
#include "exit_codes.h"
#include "mail_commands.h"
#include "mail_queue.h"

namespace cli {
namespace {

// The accounts with a queue: the one named, or every one (a folder once).
std::optional<std::vector<Account>> queue_accounts(const std::string &name, std::string &error) {
    if (!name.empty()) {
        auto one = load_account(name, error);
        if (one && one->queue.empty()) error = "the account [" + name + "] has no queue";
        return one && !one->queue.empty() ? std::optional(std::vector<Account>{*one}) : std::nullopt;
    }
    std::string path = accounts_path(error);
    auto all = path.empty() ? std::nullopt : read_accounts(path, error);
    if (!all) return std::nullopt;
    std::vector<Account> out;
    std::set<std::string> folders;
    for (const Account &a : *all)
        if (!a.queue.empty() && folders.insert(a.queue).second) out.push_back(a);
    return out;
}

int config_error(const std::string &error) {
    std::fprintf(stderr, "vellor: %s\n", error.c_str());
    return kExitConfig;
}

// Sends one account's queue; the number of messages left in it.
std::size_t flush_one(const Account &a, int parallel, bool verbose) {
    std::string error;
    for (const std::string &name : expire(a.queue, a.queue_max_age, error))
        std::fprintf(stderr, "vellor: %s/%s waited longer than %s: moved to %s/failed with a report\n", a.queue.c_str(),
                     name.c_str(), age_text(a.queue_max_age).c_str(), a.queue.c_str());
    if (!error.empty()) std::fprintf(stderr, "vellor: %s\n", error.c_str());
    std::size_t left = queued_messages(a.queue).size();
    while (left > 0) {
        SendOptions o;
        apply_account(a, o, [](const char *) { return false; });
        o.message = a.queue;
        o.extension = "txt";
        o.envelope = o.remove = true;
        o.parallel = parallel;
        o.quiet = !verbose;
        o.verbose = verbose;
        run_send(o);
        std::size_t now = queued_messages(a.queue).size();
        if (now >= left) return now;  // this pass sent nothing: the next flush tries again
        left = now;
    }
    return 0;
}

}  // namespace

int queue_list(const std::string &account) {
    std::string error;
    auto accounts = queue_accounts(account, error);
    if (!accounts) return config_error(error);
    for (const Account &a : *accounts)
        for (const QueuedMessage &m : queued_messages(a.queue)) {
            std::string to;
            for (const std::string &r : m.recipients) to += (to.empty() ? "" : " ") + r;
            std::printf("%s/%s\t%s\t%s\t%s\n", a.queue.c_str(), m.file.c_str(), m.sender.c_str(), to.c_str(),
                        age_text(m.age).c_str());
        }
    return kExitOk;
}

int queue_flush(const std::string &account, int parallel, bool verbose) {
    std::string error;
    auto accounts = queue_accounts(account, error);
    if (!accounts) return config_error(error);
    std::size_t left = 0;
    for (const Account &a : *accounts) left += flush_one(a, parallel, verbose);
    if (left) std::fprintf(stderr, "vellor: %s message(s) still queued\n", std::to_string(left).c_str());
    return left ? kExitTempFail : kExitOk;
}

Action add_queue(CLI::App &app) {
    struct Choice {
        std::string account;
        int parallel = 0;
        bool verbose = false;
        CLI::App *list = nullptr, *flush = nullptr;
    };
    auto c = std::make_shared<Choice>();
    app.require_subcommand(1);
    c->list = app.add_subcommand("list", "One line per queued message: file, sender, recipients, age");
    c->flush = app.add_subcommand("flush", "Send the queued messages; 0 when the queue is empty afterwards, 75 if not");
    for (CLI::App *sub : {c->list, c->flush})
        sub->add_option("--account", c->account, "The account whose queue (default: every account's)");
    c->flush->add_option("--parallel", c->parallel, "Send over up to N connections at once")->check(CLI::Range(1, 64));
    c->flush->add_flag("--verbose", c->verbose, "Every report and the SMTP dialogue (login masked)");
    app.footer("The queues are the queue folders of the accounts file (see vellor(1), ACCOUNTS).");
    return
        [c] { return c->list->parsed() ? queue_list(c->account) : queue_flush(c->account, c->parallel, c->verbose); };
}

}  // namespace cli
