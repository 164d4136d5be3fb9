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

// The standard output of a command run through the shell, once it has
// ended with success: at most `most` bytes, the command waited for at most
// `wait_ms` milliseconds (then ended, with its children where the system
// allows). What it printed is read once it has exited, even while a child
// it left behind holds the output open. nullopt with the reason otherwise.
std::optional<std::string> command_output(const std::string &command, long wait_ms, std::size_t most,
                                          std::string &error);
// A small file read whole: only a regular file (never waiting on a FIFO,
// never reading a device) of at most `most` bytes; nullopt with the reason.
std::optional<std::string> read_small_file(const std::string &path, std::size_t most, std::string &error);
// Gives `path` the text change(old text) when that differs: the new text
// goes to a new file beside it (its mode kept), synced, then renamed over
// it, so a reader sees the old file or the new, never a part. A file that
// another sender holds claimed (an exclusive lock) is left as it is. False
// with the reason when the file cannot be read or replaced.
bool rewrite_file(const std::string &path, std::string (*change)(const std::string &), std::string &error);
// The options file the library reads when the tool does not set one; empty
// where options live in the system registry.
std::string default_options_file();

}  // namespace cli::sys
