// The tool's OAuth 2.0 token; see oauth2_token.h.
#include "oauth2_token.h"

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

}  // namespace

std::optional<std::string> fetch_token(const TokenSource &source, std::string &error) {
    std::string text;
    if (!source.command.empty()) {
        auto out = sys::run_command(source.command, error);
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
