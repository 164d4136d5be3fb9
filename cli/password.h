// Where the login password comes from: a file, $VELLOR_PASSWORD, or a prompt
// on the terminal without echo. Never from the command line, never printed.
#pragma once
#include <optional>
#include <string>

namespace cli {

// The password, or nullopt with a message in `error`.
std::optional<std::string> find_password(const std::string &file, std::string &error);

}  // namespace cli
