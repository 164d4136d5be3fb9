// Typed helpers over the companion's operations and session record.
#include "transport/companion.h"

#include <cstdlib>
#include <cstring>

#include "support/text.h"
#include "transport/tls.h"

namespace vellor::transport {

TCPLIBRARY_STRUCTURE *send_block() {
    static TCPLIBRARY_STRUCTURE block;
    return &block;
}

int timeout_ms() {
    const char *v = std::getenv("KORVEXAPI_TIMEOUT_MS");
    char *end = nullptr;
    long n = v && *v ? std::strtol(v, &end, 10) : 0;
    return end && *end == '\0' && n > 0 && n < (1L << 30) ? static_cast<int>(n) : 60000;
}

void set_target(TCPSESSION_STRUCTURE *s, const std::string &address, int32_t port) {
    set_field(s->szHostAddress, address);
    s->nPort = static_cast<uint32_t>(port);
}

std::string host_address(const TCPSESSION_STRUCTURE *s) { return fs(s->szHostAddress); }
std::string first_address(const TCPSESSION_STRUCTURE *s) { return fs(s->szAddress[0]); }
int addresses(const TCPSESSION_STRUCTURE *s) { return s->nAddresses; }

bool resolve_host(TCPLIBRARY_STRUCTURE *block, TCPSESSION_STRUCTURE *s, const std::string &host, std::string &address) {
    char out[16] = {0};
    if (KorvexAPI_Get_IPAddress_From_Hostname(block, s, host.c_str(), out) == -1) return false;
    address = fs(out);
    return true;
}

bool connect(TCPLIBRARY_STRUCTURE *block, TCPSESSION_STRUCTURE *s, int flag) {
    return KorvexAPI_Make_Connection(block, s, flag) != -1;
}

bool close_socket(TCPLIBRARY_STRUCTURE *block, TCPSESSION_STRUCTURE *s) {
    if (s->nSocket != 0) end_tls(s->nSocket);
    return KorvexAPI_Close_Socket(block, s, 1) == 0;
}

}  // namespace vellor::transport
