// Line checks and dot-stuffing over a message's bytes.
#include "smtp/message_text.h"

namespace vellor::smtp {

namespace {
bool lone_dot_at(const char *t, std::size_t n, std::size_t i) {
    if (t[i] != '.') return false;
    if (i + 1 == n || t[i + 1] == '\n') return true;
    return t[i + 1] == '\r' && i + 2 < n && t[i + 2] == '\n';
}
}  // namespace

std::size_t lone_dot_line(const char *text, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        if ((i == 0 || text[i - 1] == '\n') && lone_dot_at(text, n, i)) return i;
    }
    return std::string::npos;
}

std::string dot_stuffed(const char *text, std::size_t n) {
    std::string out;
    out.reserve(n + n / 64 + 1);
    for (std::size_t i = 0; i < n; ++i) {
        if (text[i] == '.' && (i == 0 || text[i - 1] == '\n')) out += '.';
        out += text[i];
    }
    return out;
}

}  // namespace vellor::smtp
