// Bounded text helpers shared by every subsystem.
#include "support/text.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
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

bool clean_utf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80                 ? 0
                        : c >= 0xC2 && c <= 0xDF ? 1
                        : c >= 0xE0 && c <= 0xEF ? 2
                        : c >= 0xF0 && c <= 0xF4 ? 3
                                                 : 9;
        if (n == 9 || s.size() - i <= n) return false;  // a byte that begins nothing, or a cut sequence
        uint32_t cp = n ? c & (0x3F >> n) : c;
        for (std::size_t k = 1; k <= n; ++k) {
            unsigned char b = static_cast<unsigned char>(s[i + k]);
            if ((b & 0xC0) != 0x80) return false;
            cp = cp << 6 | (b & 0x3F);
        }
        static const uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kLeast[n] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF || (cp >= 0x80 && cp <= 0x9F))
            return false;
        i += n + 1;
    }
    return true;
}

}  // namespace vellor
