// What the tool needs from the operating system, with one implementation per
// platform (cli/posix, cli/win32): the terminal, the environment, a private
// folder, links, access checks, a command's output, and the options file
// the library reads.
#pragma once
#include <cstdio>
#include <optional>
#include <string>

namespace cli::sys {

extern const char kSeparator;  // between a folder and a name

bool stderr_is_terminal();
// Asks on the terminal without echo; the terminal is restored however the
// prompt ends (Ctrl-C included).
std::optional<std::string> prompt_password(std::string &error);

void set_env(const char *name, const std::string &value);
void unset_env(const char *name);

// A new folder only this user can enter; its path in dir.
bool make_private_folder(std::string &dir);
bool link_path(const std::string &target, const std::string &link);
bool readable(const std::string &path);

// A command run through the shell, its standard output to read; null when
// it cannot run. close_command gives its exit status (0: success).
FILE *open_command(const std::string &command);
int close_command(FILE *out);
// The options file the library reads when the tool does not set one; empty
// where options live in the system registry.
std::string default_options_file();

}  // namespace cli::sys
