// The companion's own view of its records: what it keeps in the opaque
// library block, its settings from the environment, and the DNS helpers
// shared by its lookup operations.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "korvexapi.h"

namespace korvex {

constexpr uint32_t kMagic = 0x4b525658;  // "KRVX"
constexpr const char *kVersion = "2.61.0.30";
constexpr const char *kBuild = "060125";
constexpr uint32_t kRevision = 450194;

struct BlockState {
    uint32_t magic;
    int32_t initialized;
    int32_t started;  // Start_Winsock minus Stop_Winsock
    int32_t mode;
    char name[128];
    uint8_t reserved[180 - 16 - 128];
};
static_assert(sizeof(BlockState) == sizeof(TCPLIBRARY_STRUCTURE), "block state fills the block");

BlockState *state_of(TCPLIBRARY_STRUCTURE *block);

// Settings, read afresh at every use.
int timeout_ms();           // $KORVEXAPI_TIMEOUT_MS, default 60000
int send_block_size();      // $KORVEXAPI_SEND_BLOCK_SIZE, default 65536
std::string dns_servers();  // $KORVEXAPI_DNS_SERVERS, empty: /etc/resolv.conf

// The outcome of a lookup, whichever resolver the platform has.
enum class Lookup { Found = 0, NoData, NoDomain, TimedOut, ServerFailed, BadName, Failed };

// Network start for the platform (Winsock's WSAStartup on Windows, nothing
// on POSIX systems); true when connections and lookups can be made.
bool network_ready();

// One TCP connection to a dotted IPv4 address with TCP_NODELAY and the
// given connect, send and receive time-out: the socket number (never 0), or
// 0 with the Winsock code of the failure in err.
uint32_t connect_address(const std::string &address, uint16_t port, int timeout_ms, int &err);
bool close_connection(uint32_t socket);
bool is_dotted(const std::string &text);  // a dotted IPv4 address
// 4 for an IPv4 dotted address, 6 for an IPv6 address text, 0 otherwise.
int family_of(const std::string &text);

// The steps of a race of connects (korvex/connection.cpp runs it), each the
// platform's: a non-blocking connect begun to address (bound to source when
// it is not empty): the socket, or 0 with the Winsock code in err (10049
// when source is not an address of this host); a wait of at most ms for
// one of the sockets to finish its connect: its index with its outcome in
// err (0 connected), or -1 when none did; a connected socket made blocking
// with TCP_NODELAY and the time-outs.
uint32_t begin_connect(const std::string &address, uint16_t port, const std::string &source, int &err);
int wait_connects(const std::vector<uint32_t> &sockets, int ms, int &err);
void finish_connect(uint32_t socket, int timeout_ms);
// Whether this host has the address source (IPv4 or IPv6) to bind a TCP
// socket to: 0, else the Winsock code (10049 for an address it lacks).
int bind_check(const std::string &source);

// DNS: c-ares on POSIX systems, the system's DNS API on Windows.
Lookup lookup_ipv4(const std::string &host, std::vector<std::string> &addresses);
Lookup lookup_ipv6(const std::string &host, std::vector<std::string> &addresses);
Lookup lookup_ptr(const std::string &address, std::string &name);
struct MxHost {
    std::string host;
    int preference;
};
Lookup query_mx(const std::string &domain, const std::string &server, std::vector<MxHost> &hosts);
std::vector<std::string> default_servers();
// A query asking for DNSSEC data (dns::dnssec_query) to the configured
// servers: Found with the whole answer as received, whatever its response
// code (NXDOMAIN included); TimedOut, ServerFailed (SERVFAIL, REFUSED, no
// server reached) or Failed otherwise. `loopback`: every configured server
// is on a loopback address, so no network lies between it and the caller.
Lookup query_dnssec(const std::string &name, uint16_t type, std::string &answer, bool &loopback);

}  // namespace korvex
