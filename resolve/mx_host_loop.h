// The host resolution loop shared by the MX resolvers: each mail exchanger of
// an MX answer, in the answer's order (never sorted by preference), looked
// up through the companion with one fresh library block and one session
// record reused for every host.
#pragma once
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "vellorapi.h"

namespace vellor::resolve {

struct MxEntry {
    std::string host;
    std::string address;
    int32_t preference;
};

enum class FailedHost {
    OneEntry,  // a host with fewer than two addresses takes one entry, with
               // whatever the first address slot holds (empty or stale)
    Nothing,   // only addresses actually found are added
};

// Appends at most `limit` entries to out. No exchanger's lookup starts after
// the deadline: a whole MX resolution is bounded by one time-out for its
// answer and one for the lookup running when the deadline passes, however
// many exchangers the answer names.
using Deadline = std::chrono::steady_clock::time_point;
Deadline resolution_deadline();  // one companion time-out from now
void host_resolution_loop(const MXQUERY_STRUCTURE &mx, const char *accessName, std::size_t limit, FailedHost mode,
                          std::vector<MxEntry> &out, Deadline deadline);

// Number of exchangers of an answer, within 0..20 whatever the record holds.
int mx_count(const MXQUERY_STRUCTURE &mx);
std::string mx_host(const MXQUERY_STRUCTURE &mx, int i);

// Writes entry e at index i of a VALIDMXIPS: a host name longer than the
// field's 127 characters is left empty, never cut (the address is kept).
void put_entry(VALIDMXIPS &list, int i, const MxEntry &e);

}  // namespace vellor::resolve
