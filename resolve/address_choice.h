// Which addresses a send dials for a relay or a recipient's exchangers, by
// the AddressFamily option (support/options.h): "4" the IPv4 addresses as
// always; "auto" those first, then IPv6 ones; "6" IPv6 only; "any" both,
// raced IPv6 first in the order of RFC 8305 with its 250 ms between
// starts. Looks names up through the companion (transport/companion.h).
#pragma once
#include <string>
#include <vector>

#include "resolve/mx_host_loop.h"
#include "support/options.h"

namespace vellor::resolve {

constexpr int kStaggerMs = 250;        // RFC 8305's connection attempt delay
constexpr std::size_t kMostTried = 8;  // addresses tried for one recipient

// RFC 8305's order: IPv6 first, then the families in turn.
std::vector<std::string> interleaved(const std::vector<std::string> &v4, const std::vector<std::string> &v6);

// One connection attempt: its addresses, raced `stagger_ms` apart when
// there are more than one, and the exchanger they belong to.
struct Attempt {
    std::vector<std::string> addresses;
    int stagger_ms = 0;
    std::string host;
};

// A name's addresses for family "6" (IPv6, one after another) or "any"
// (both, raced); false when it has none of them.
bool name_attempt(const std::string &name, options::Family family, Attempt &out);

// The attempts of one recipient's delivery beyond the IPv4 addresses of its
// MX resolution (which "4" and "auto" try first, each alone): for "auto" and
// "6" each IPv6 address of the exchangers, in the answer's order, alone;
// for "any" one race per exchanger over its addresses of both families.
// At most `budget` addresses in all (a raced one counts too); no lookup
// starts after the deadline.
std::vector<Attempt> exchanger_attempts(const MXQUERY_STRUCTURE &mx, options::Family family, std::size_t budget,
                                        Deadline deadline);

}  // namespace vellor::resolve
