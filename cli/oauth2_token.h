// The OAuth 2.0 token of one `vellor send`: read from --oauth2-token-file,
// or the standard output of --oauth2-token-cmd (run once per call, and once
// more after the server refused the token, so the command can refresh it).
// One trailing line end (LF or CR LF) is not part of the token. The token
// stays in memory and is never printed.
#pragma once
#include <optional>
#include <string>

namespace cli {

struct TokenSource {
    std::string file, command;
    bool given() const { return !file.empty() || !command.empty(); }
    bool refreshable() const { return !command.empty(); }
};

// The token, or nullopt with the reason in `error`. A command is waited for
// at most `wait_ms` milliseconds (the send's time-out); a file must be a
// regular file; either gives at most 1 MiB.
std::optional<std::string> fetch_token(const TokenSource &source, long wait_ms, std::string &error);

}  // namespace cli
