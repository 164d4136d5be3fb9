// Password sources for the vellor tool.
#include "password.h"

#include "system.h"

#include <cstdlib>
#include <fstream>

namespace cli {
namespace {

std::string first_line(const std::string &text) {
    std::string line = text.substr(0, text.find('\n'));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

}  // namespace

std::optional<std::string> find_password(const std::string &file, std::string &error) {
    if (!file.empty()) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            error = "cannot read the password file " + file;
            return std::nullopt;
        }
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return first_line(text);
    }
    if (const char *env = std::getenv("VELLOR_PASSWORD")) return std::string(env);
    std::optional<std::string> typed = sys::prompt_password(error);
    if (!typed) return typed;
    return first_line(*typed);
}

}  // namespace cli
