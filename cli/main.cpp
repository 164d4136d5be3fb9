// vellor: try, script and check the mail library from the command line.
// Exit status by sysexits (see exit_codes.h): 0 on success, 64 for a wrong
// command line; on failure the library's own error text on standard error.
#include <cstdio>
#include <exception>
#include <map>
#include <string>
#include <vector>

#include "commands.h"
#include "mail_commands.h"
#include "exit_codes.h"

namespace {

// The program's own name: "sendmail" and "mailq" when run through those links.
std::string program_name(const char *argv0) {
    std::string name = argv0 ? argv0 : "";
    std::size_t slash = name.find_last_of("/\\");
    name = slash == std::string::npos ? name : name.substr(slash + 1);
    return name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0 ? name.substr(0, name.size() - 4) : name;
}

int run(int argc, char **argv) {
    std::string program = program_name(argc > 0 ? argv[0] : nullptr);
    if (program == "sendmail" || (argc > 1 && std::string(argv[1]) == "sendmail"))
        return cli::run_sendmail(std::vector<std::string>(argv + (program == "sendmail" ? 1 : 2), argv + argc));
    if (program == "mailq") return cli::queue_list("");
    CLI::App app{"vellor - send mail and look up mail exchangers with libvellorapi"};
    app.require_subcommand(1);
    std::map<CLI::App *, cli::Action> actions;
    auto add = [&](const char *name, const char *help, cli::Action (*setup)(CLI::App &)) {
        CLI::App *sub = app.add_subcommand(name, help);
        actions[sub] = setup(*sub);
    };
    add("send", "Send a message, a queue directory or standard input", cli::add_send);
    add("mx", "List a domain's mail exchangers and their addresses", cli::add_mx);
    add("dns", "Look a host name up, or an address back", cli::add_dns);
    add("details", "Show what a queued message file and its envelope say", cli::add_details);
    add("dkim-record", "Print the DNS TXT record that publishes a DKIM key", cli::add_dkim_record);
    add("sendmail", "Send one message from standard input, as /usr/sbin/sendmail", cli::add_sendmail);
    add("queue", "List or send the accounts' queued messages", cli::add_queue);
    add("version", "Library and companion versions, build date, revisions", cli::add_version);
    app.set_version_flag("--version", cli::version_text(), "Library and companion versions, then exit");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        int rc = app.exit(e);
        return rc == 0 ? 0 : cli::kExitUsage;
    }
    for (auto &[sub, action] : actions)
        if (sub->parsed()) return action();
    return cli::kExitUsage;
}

}  // namespace

// Anything thrown (memory exhausted, say) ends the tool with EX_SOFTWARE and
// a line saying so, never with an uncaught exception.
int main(int argc, char **argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "vellor: internal error: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "vellor: internal error\n");
    }
    return cli::kExitSoftware;
}
