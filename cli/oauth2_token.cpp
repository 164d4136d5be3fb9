// The tool's OAuth 2.0 token; see oauth2_token.h.
#include "oauth2_token.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "system.h"

namespace cli {
namespace {

std::string without_line_end(std::string text) {
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
    return text;
}

// The command's standard output, or nullopt (with the reason) when it
// cannot run or ends with a failure status.
std::optional<std::string> run_command(const std::string &command, std::string &error) {
    FILE *out = sys::open_command(command);
    if (!out) {
        error = "cannot run the token command";
        return std::nullopt;
    }
    std::string text;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, out)) > 0;) text.append(buf, n);
    if (sys::close_command(out) != 0) {
        error = "the token command failed";
        return std::nullopt;
    }
    return text;
}

}  // namespace

std::optional<std::string> fetch_token(const TokenSource &source, std::string &error) {
    std::string text;
    if (!source.command.empty()) {
        auto out = run_command(source.command, error);
        if (!out) return std::nullopt;
        text = *out;
    } else {
        std::ifstream in(source.file, std::ios::binary);
        if (!in) {
            error = "cannot read the token file " + source.file;
            return std::nullopt;
        }
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    text = without_line_end(text);
    if (text.empty()) {
        error = "the OAuth 2.0 token is empty";
        return std::nullopt;
    }
    return text;
}

}  // namespace cli
