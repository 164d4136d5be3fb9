// The library's calling side of the companion TCP library (korvexapi.h),
// the only place that calls it: the process-wide library block of the
// start-up, the companion's start and stop around a send, host lookups,
// and typed helpers over the session record, so the rest of the library
// names fields, never offsets. Connections are opened and closed by the
// connection object (transport/connection.h).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "korvexapi.h"

namespace vellor::transport {

// The library start-up's block (zeroed and initialised there). A send uses
// a block of its own.
TCPLIBRARY_STRUCTURE *send_block();
// The companion's time-out for one wait ($KORVEXAPI_TIMEOUT_MS, default
// 60000), which also bounds a whole MX resolution.
int timeout_ms();

// The companion's life around a send or a lookup: its block initialised
// for `name`, a session record zeroed and initialised, its network started
// (false when it cannot start) and stopped, the block closed down.
void library_start(TCPLIBRARY_STRUCTURE *block, const char *name);
void session_start(TCPLIBRARY_STRUCTURE *block, TCPSESSION_STRUCTURE *session);
// The library start-up's check that a session record can be initialised in
// `block` (the record is dropped).
void session_check(TCPLIBRARY_STRUCTURE *block);
bool network_start(TCPLIBRARY_STRUCTURE *block, int32_t mode = 2);
void network_stop(TCPLIBRARY_STRUCTURE *block);
void library_close(TCPLIBRARY_STRUCTURE *block, const char *name);

struct CompanionVersion {
    std::string version, build;
    uint32_t revision = 0;
};
CompanionVersion companion_version();

// Session helpers. set_target leaves the address empty (and returns false)
// when it does not fit the record: never a cut address.
bool set_target(TCPSESSION_STRUCTURE *s, const std::string &address, int32_t port);
std::string host_address(const TCPSESSION_STRUCTURE *s);
std::string first_address(const TCPSESSION_STRUCTURE *s);
int addresses(const TCPSESSION_STRUCTURE *s);

// The addresses of host of the families asked (KORVEX_FAMILY_*), IPv4 ones
// first; false when none was found. An address literal stands for itself.
bool host_addresses(const std::string &host, int32_t family, std::vector<std::string> &out);
// 4 for an IPv4 dotted address, 6 for an IPv6 address (without brackets), else 0.
int family_of(const std::string &address);

// Whether connections can be bound to the local address `source`: 0, else
// the Winsock code (10049: not an address of this host), no connect made.
int source_check(TCPLIBRARY_STRUCTURE *block, TCPSESSION_STRUCTURE *s, const std::string &source);

// Forward lookup of host; address receives the first address found.
bool resolve_host(TCPLIBRARY_STRUCTURE *block, TCPSESSION_STRUCTURE *s, const std::string &host, std::string &address);

// The companion's answers for the exported lookups, passed through: an MX
// query's status (1 success; -1, -2, -3, -4, -9 failures), the default DNS
// server (0 known, -1 none), a forward lookup into the session record's
// addresses, a reverse lookup of its szHostAddress into name (256 bytes).
int32_t mx_query(const char *domain, MXQUERY_STRUCTURE *answer, const char *server, int32_t useDefaultServer);
int32_t default_dns_server(char *buffer);
// A query asking for DNSSEC data (KorvexAPI_Dns_Query): the companion's
// status (1: an answer came, its bytes in `answer`), and whether every
// server asked is on a loopback address.
int32_t dnssec_query(const std::string &name, uint16_t type, std::string &answer, bool &loopback);
bool lookup_addresses(TCPLIBRARY_STRUCTURE *block, TCPSESSION_STRUCTURE *s, const std::string &host);
bool lookup_name(TCPLIBRARY_STRUCTURE *block, TCPSESSION_STRUCTURE *s, char *name);

// The most characters of an address a lookup reports (its NUL included).
constexpr std::size_t kLookupAddressChars = sizeof TCPSESSION_STRUCTURE{}.szAddress[0];

// Lookups of many host names over one companion block of their own and its
// session record, its library started for the access name `name`.
class HostLookup {
public:
    explicit HostLookup(const char *name);
    // The addresses the record holds after looking `host` up (as many as
    // the companion found; address(i) for i below 8).
    int lookup(const std::string &host);
    std::string address(int i) const;
    // The exported lookups' steps: the companion's network started in
    // `mode` and stopped, the library closed for `name`; `host` looked up
    // (false when it failed; count() and address(i) then tell), or the name
    // of `address` into `name` (256 bytes).
    bool start_network(int32_t mode);
    void stop_network();
    void close(const char *name);
    bool found(const std::string &host);
    int count() const { return session_.nAddresses; }
    bool name_of(const std::string &address, char *name);

private:
    TCPLIBRARY_STRUCTURE block_;
    TCPSESSION_STRUCTURE session_;
};

}  // namespace vellor::transport
