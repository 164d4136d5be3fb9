// The vellor tool's subcommands, each registered on the CLI11 application
// and run over the public C API of libvellorapi.
#pragma once
#include <CLI/CLI.hpp>
#include <functional>

namespace cli {

// Each returns the action to run when its subcommand was chosen; the
// action's result is the process's exit status.
using Action = std::function<int()>;
Action add_send(CLI::App &app);
Action add_mx(CLI::App &app);
Action add_dns(CLI::App &app);
Action add_details(CLI::App &app);
Action add_version(CLI::App &app);
Action add_dkim_record(CLI::App &app);
Action add_sendmail(CLI::App &app);  // see mail_commands.h
Action add_queue(CLI::App &app);
// "vellor X (library X build B, companion X build B)" for --version.
std::string version_text();
// When this build of the tool was made (the compiler's date and time).
const char *build_time();

}  // namespace cli
