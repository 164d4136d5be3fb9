// The address check used for the sender and a single recipient: a '.' must
// follow the last '@' seen before it, not directly, and no backslash may
// occur. Nothing else is checked.
#include "msgfiles/recipients.h"

namespace vellor {

int is_valid_address(const std::string &address, const std::string &) {
    if (address.empty()) return 0;
    std::size_t at = 0, dot = 0;
    for (std::size_t i = 0; i < address.size(); ++i) {
        if (address[i] == '@')
            at = i;
        else if (address[i] == '.' && at > 0) {
            dot = i;
            break;
        }
    }
    if (dot < at + 2) return 0;
    if (address.find('\\') != std::string::npos) return 0;
    return 1;
}

std::string domain_of(const std::string &address) {
    std::size_t at = address.find('@');
    return at == std::string::npos ? std::string() : address.substr(at + 1);
}

}  // namespace vellor
