// The library's calling side of the companion TCP library: the one
// process-wide library block of the send path, and typed helpers over the
// session record, so the rest of the library names fields, never offsets.
#pragma once
#include <string>

#include "korvexapi.h"

namespace vellor::transport {

// The library start-up's block (zeroed and initialised there). A send uses
// a block of its own.
TCPLIBRARY_STRUCTURE *send_block();
// The companion's time-out for one wait ($KORVEXAPI_TIMEOUT_MS, default
// 60000), which also bounds a whole MX resolution.
int timeout_ms();

// The companion's block and connection record of one send.
struct Link {
    TCPLIBRARY_STRUCTURE *block = nullptr;
    TCPSESSION_STRUCTURE *session = nullptr;
};

// Session helpers.
void set_target(TCPSESSION_STRUCTURE *s, const std::string &address, int32_t port);
std::string host_address(const TCPSESSION_STRUCTURE *s);
std::string first_address(const TCPSESSION_STRUCTURE *s);
int addresses(const TCPSESSION_STRUCTURE *s);

// Forward lookup of host; address receives the first address found.
bool resolve_host(TCPLIBRARY_STRUCTURE *block, TCPSESSION_STRUCTURE *s, const std::string &host, std::string &address);
bool connect(TCPLIBRARY_STRUCTURE *block, TCPSESSION_STRUCTURE *s, int flag);
bool close_socket(TCPLIBRARY_STRUCTURE *block, TCPSESSION_STRUCTURE *s);

}  // namespace vellor::transport
