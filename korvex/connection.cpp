// The companion's connection operations: a TCP connection to the session's
// szHostAddress (dotted address, or a host name resolved first and tried
// address by address, at most 8) and nPort, with the connect, send and
// receive time-outs of $KORVEXAPI_TIMEOUT_MS; a socket number is never 0.
// nLastError receives the Winsock code of a failed attempt. The sockets
// themselves are the platform's (posix/connection.cpp, win32/connection.cpp).
#include <cstring>

#include "korvex/korvex_internal.h"
#include "common/export_guard.h"

using namespace korvex;

namespace {

constexpr int16_t kHostNotFound = 11001;
constexpr int16_t kNetworkNotReady = 10091;

void list_addresses(TCPSESSION_STRUCTURE *session, std::vector<std::string> &targets) {
    std::size_t n = std::min<std::size_t>(targets.size(), 8);
    targets.resize(n);
    for (std::size_t i = 0; i < n; ++i) {  // dotted addresses: a longer text is left out, never cut
        std::memset(session->szAddress[i], 0, sizeof session->szAddress[i]);
        if (targets[i].size() < sizeof session->szAddress[i])
            std::memcpy(session->szAddress[i], targets[i].data(), targets[i].size());
    }
    session->nAddresses = static_cast<int16_t>(n);
}

// The addresses to try; false when the host cannot be resolved.
bool targets_of(TCPSESSION_STRUCTURE *session, std::vector<std::string> &targets) {
    std::string host(session->szHostAddress, ::strnlen(session->szHostAddress, sizeof session->szHostAddress));
    if (is_dotted(host)) {
        targets.push_back(host);
        return true;
    }
    if (host.empty() || lookup_ipv4(host, targets) != Lookup::Found) return false;
    list_addresses(session, targets);
    return true;
}

}  // namespace

extern "C" {

KORVEX_API int32_t KorvexAPI_Make_Connection(TCPLIBRARY_STRUCTURE *, TCPSESSION_STRUCTURE *session, int32_t) {
    return vellor::guarded(-1, [&]() -> int32_t {
        if (!session) return -1;
        session->nSocket = 0;
        if (!network_ready()) {
            session->nLastError = kNetworkNotReady;
            return -1;
        }
        std::vector<std::string> targets;
        if (!targets_of(session, targets)) {
            session->nLastError = kHostNotFound;
            return -1;
        }
        int timeout = timeout_ms();
        for (const std::string &addr : targets) {
            int err = 0;
            uint32_t socket = connect_address(addr, static_cast<uint16_t>(session->nPort), timeout, err);
            if (socket != 0) {
                session->nSocket = socket;
                session->nLastError = 0;
                if (session->nSendBlockSize <= 0) session->nSendBlockSize = send_block_size();
                return 0;
            }
            session->nLastError = static_cast<int16_t>(err);
        }
        return -1;
    });
}

KORVEX_API int32_t KorvexAPI_Close_Socket(TCPLIBRARY_STRUCTURE *, TCPSESSION_STRUCTURE *session, int32_t) {
    return vellor::guarded(-1, [&]() -> int32_t {
        if (!session || session->nSocket == 0) return -1;
        uint32_t socket = session->nSocket;
        session->nSocket = 0;
        return close_connection(socket) ? 0 : -1;
    });
}

}  // extern "C"
