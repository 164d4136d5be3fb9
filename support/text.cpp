// Bounded text helpers shared by every subsystem.
#include "support/text.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>

namespace vellor {

bool set_field(char *field, std::size_t size, std::string_view text) {
    if (!field || size == 0) return false;
    bool fits = text.size() < size && (text.empty() || !std::memchr(text.data(), '\0', text.size()));
    std::size_t n = fits ? text.size() : 0;
    if (n) std::memcpy(field, text.data(), n);
    field[n] = '\0';
    return fits;
}

std::string format(const char *fmt, ...) {
    char buf[1024];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n < 0) return {};
    return std::string(buf, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buf - 1));
}

std::string upper(std::string s) {
    for (char &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::size_t find_text_nocase(const std::string &text, const std::string &pattern) {
    return upper(text).find(upper(pattern));
}

bool equal_nocase(const std::string &a, const std::string &b) {
    return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace vellor
