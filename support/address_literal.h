// Address literals in server names and mail domains: an IPv4 or IPv6
// address written where a name could stand. Pure text work.
#pragma once
#include <string>

namespace vellor {

// The address a text stands for, else "": "[192.0.2.1]" and
// "[IPv6:2001:db8::1]" (a mail domain's literal, RFC 5321 4.1.3; the tag
// without regard to case), and, when `bare` is true (a server name), an
// IPv6 address alone or in brackets ("::1", "[::1]") or an IPv4 address.
std::string literal_address(const std::string &text, bool bare);

}  // namespace vellor
