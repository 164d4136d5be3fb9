// Address literals; see address_literal.h. The address texts are read
// here, without the network library: dotted IPv4 (four decimal parts of at
// most 255) and IPv6 as RFC 4291 2.2 writes it (eight groups of one to four
// hex digits, one "::" standing for one or more zero groups, the last two
// groups possibly a dotted IPv4 address).
#include "support/address_literal.h"

#include <strings.h>

#include <cctype>

namespace vellor {
namespace {

bool dotted(const std::string &s) {
    int parts = 0, digits = 0, value = 0;
    for (std::size_t i = 0; i <= s.size(); ++i) {
        if (i == s.size() || s[i] == '.') {
            if (digits == 0 || ++parts > 4) return false;
            digits = value = 0;
        } else if (std::isdigit(static_cast<unsigned char>(s[i])) && digits < 3) {
            value = value * 10 + (s[i] - '0');
            if (value > 255 || (digits > 0 && value < 10 * digits)) return false;  // no leading zero
            ++digits;
        } else {
            return false;
        }
    }
    return parts == 4;
}

// The groups of one side of "::" (empty: none); -1 when they are malformed.
int groups(const std::string &s, bool last) {
    if (s.empty()) return 0;
    int n = 0;
    for (std::size_t start = 0;;) {
        std::size_t colon = s.find(':', start);
        std::string g = s.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (last && colon == std::string::npos && g.find('.') != std::string::npos) return dotted(g) ? n + 2 : -1;
        if (g.empty() || g.size() > 4) return -1;
        for (char c : g)
            if (!std::isxdigit(static_cast<unsigned char>(c))) return -1;
        ++n;
        if (colon == std::string::npos) return n;
        start = colon + 1;
    }
}

bool ipv6(const std::string &s) {
    std::size_t gap = s.find("::");
    if (gap == std::string::npos) return groups(s, true) == 8;
    if (s.find("::", gap + 1) != std::string::npos) return false;
    int before = groups(s.substr(0, gap), false), after = groups(s.substr(gap + 2), true);
    return before >= 0 && after >= 0 && before + after <= 7;
}

}  // namespace

std::string literal_address(const std::string &text, bool bare) {
    bool bracketed = text.size() > 2 && text.front() == '[' && text.back() == ']';
    if (!bracketed) return bare && (dotted(text) || ipv6(text)) ? text : std::string();
    std::string inner = text.substr(1, text.size() - 2);
    if (inner.size() > 5 && ::strncasecmp(inner.c_str(), "IPv6:", 5) == 0)
        return ipv6(inner.substr(5)) ? inner.substr(5) : std::string();
    return dotted(inner) || (bare && ipv6(inner)) ? inner : std::string();
}

}  // namespace vellor
