// The address check used for the sender and a single recipient: a '.' must
// follow the last '@' seen before it, not directly (or the domain is an
// address literal, "[192.0.2.1]" or "[IPv6:2001:db8::1]"), and no backslash
// may occur, and the address must be well-formed UTF-8 without C1 controls.
// Nothing else is checked: UTF-8 in the local part or the domain (RFC 6531)
// passes, and a domain in another script may use
// the ideographic full stops IDNA takes for '.' (U+3002, U+FF0E, U+FF61).
#include <cstring>

#include "msgfiles/recipients.h"
#include "support/address_literal.h"
#include "support/text.h"

namespace vellor {
namespace {

// The length of a full stop at `i` ('.' or one of IDNA's other dots in
// UTF-8), else 0.
std::size_t dot_at(const std::string &s, std::size_t i) {
    if (s[i] == '.') return 1;
    static const char *const kDots[] = {"\xE3\x80\x82", "\xEF\xBC\x8E", "\xEF\xBD\xA1"};
    for (const char *d : kDots)
        if (s.compare(i, 3, d) == 0) return 3;
    return 0;
}

}  // namespace

int is_valid_address(const std::string &address, const std::string &) {
    if (address.empty()) return 0;
    std::size_t at = 0, dot = 0;
    for (std::size_t i = 0; i < address.size(); ++i) {
        if (address[i] == '@')
            at = i;
        else if (at > 0 && dot_at(address, i)) {
            dot = i;
            break;
        }
    }
    if (dot < at + 2 && (at == 0 || literal_address(address.substr(at + 1), false).empty())) return 0;
    if (address.find('\\') != std::string::npos) return 0;
    return clean_utf8(address) ? 1 : 0;
}

std::string domain_of(const std::string &address) {
    std::size_t at = address.find('@');
    return at == std::string::npos ? std::string() : address.substr(at + 1);
}

}  // namespace vellor
