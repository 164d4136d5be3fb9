// DNS messages as bytes, for the Windows companion's own query when the
// system's DNS API cannot hand back a record that carries a name (Wine's
// DnsQuery_A answers every MX and PTR query with DNS_ERROR_BAD_PACKET).
// Pure byte work, no I/O: a query is built, an answer is read.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "korvex/korvex_internal.h"

namespace korvex::dns {

// A recursive query for name and type, with the given id; empty when the
// name cannot be written (a label over 63 characters, the name over 253).
std::string query(uint16_t id, const std::string &name, uint16_t type);

// The same query asking for DNSSEC data: the AD bit set (RFC 6840 5.7) and
// an EDNS0 record (RFC 6891) with the DO bit and a 1232-byte UDP size.
std::string dnssec_query(uint16_t id, const std::string &name, uint16_t type);

// Reads an answer to the query with `id`: its records of `type`, in the
// order of the answer (an MX as preference and exchanger, a PTR as the name
// with preference 0). The outcome: Found, NoData (no such record),
// NoDomain (rcode 3), ServerFailed (rcode 2 or 5), Failed (anything
// malformed or not the answer to this query).
Lookup read_answer(const std::string &packet, uint16_t id, uint16_t type, std::vector<MxHost> &records);

}  // namespace korvex::dns
