// What a server lists in its EHLO reply, read from the reply's lines as the
// reply reader took them (smtp/reply.h): the extensions are the first word
// of every line after the greeting line whose code a '-' or ' ' follows, in
// upper case ("250-STARTTLS" gives "STARTTLS", "250 AUTH LOGIN PLAIN"
// gives "AUTH"), and what the envelope and login steps need of them. Pure
// text work.
#pragma once
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "smtp/reply.h"

namespace vellor::smtp {

std::set<std::string> ehlo_extensions(const Reply &reply);

// What one connection's EHLO reply offers (all false after HELO).
struct Offers {
    bool pipelining = false, smtputf8 = false, eight_bit = false, size = false, chunking = false, dsn = false;
    uint64_t size_limit = 0;  // "SIZE n" with n > 0; 0: none stated
};
Offers ehlo_offers(const Reply &reply);

// The login mechanisms an EHLO reply lists on its AUTH line(s) ("250-AUTH
// LOGIN PLAIN", also the old "250-AUTH=LOGIN"), in upper case, in order.
std::vector<std::string> ehlo_auth_mechanisms(const Reply &reply);

}  // namespace vellor::smtp
