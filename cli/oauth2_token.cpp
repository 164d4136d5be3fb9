// The tool's OAuth 2.0 token; see oauth2_token.h.
#include "oauth2_token.h"

#include "system.h"

namespace cli {
namespace {

std::string without_line_end(std::string text) {
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
    return text;
}

constexpr std::size_t kTokenMost = 1u << 20;  // a token is a few kilobytes

}  // namespace

std::optional<std::string> fetch_token(const TokenSource &source, long wait_ms, std::string &error) {
    auto text = source.command.empty() ? sys::read_small_file(source.file, kTokenMost, error)
                                       : sys::command_output(source.command, wait_ms, kTokenMost, error);
    if (!text) {
        if (source.command.empty()) error = "cannot read the token file: " + error;
        return std::nullopt;
    }
    std::string token = without_line_end(*text);
    if (token.empty()) {
        error = source.command.empty() ? "the OAuth 2.0 token is empty" : "the token command printed nothing";
        return std::nullopt;
    }
    return token;
}

}  // namespace cli
