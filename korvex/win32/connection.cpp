// The companion's connections on Windows, with Winsock: a TCP connection to
// the session's szHostAddress (dotted address, or a host name resolved first
// and tried address by address) and nPort, with a connect time-out,
// TCP_NODELAY and send/receive time-outs of $KORVEXAPI_TIMEOUT_MS. Winsock is
// started once per process, on first use. nLastError receives the Winsock
// code of a failed attempt.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>
#include <mutex>

#include "korvex/korvex_internal.h"
#include "support/export_guard.h"

using namespace korvex;

namespace korvex {

bool network_ready() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] {
        WSADATA data;
        ready = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return ready;
}

}  // namespace korvex

namespace {

// Waits for a non-blocking connect to finish; the Winsock error, 0 when connected.
int finish_connect(SOCKET s, int timeout) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval tv{timeout / 1000, (timeout % 1000) * 1000};
    int r = ::select(0, nullptr, &writable, &failed, &tv);
    if (r == 0) return WSAETIMEDOUT;
    if (r == SOCKET_ERROR) return ::WSAGetLastError();
    int err = 0;
    int len = sizeof err;
    ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&err), &len);
    return FD_ISSET(s, &failed) && err == 0 ? WSAECONNREFUSED : err;
}

// Connects one address; the socket, or INVALID_SOCKET with the error in err.
SOCKET connect_one(const std::string &address, uint16_t port, int timeout, int &err) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
        err = WSAEADDRNOTAVAIL;
        return INVALID_SOCKET;
    }
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        err = ::WSAGetLastError();
        return s;
    }
    u_long nonblocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonblocking);
    err = 0;
    if (::connect(s, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == SOCKET_ERROR) {
        err = ::WSAGetLastError();
        if (err == WSAEWOULDBLOCK) err = finish_connect(s, timeout);
    }
    if (err != 0) {
        ::closesocket(s);
        return INVALID_SOCKET;
    }
    nonblocking = 0;
    ::ioctlsocket(s, FIONBIO, &nonblocking);
    BOOL one = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&one), sizeof one);
    DWORD ms = static_cast<DWORD>(timeout);
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&ms), sizeof ms);
    ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char *>(&ms), sizeof ms);
    return s;
}

void list_addresses(TCPSESSION_STRUCTURE *session, std::vector<std::string> &targets) {
    std::size_t n = std::min<std::size_t>(targets.size(), 8);
    targets.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        std::memset(session->szAddress[i], 0, sizeof session->szAddress[i]);
        std::memcpy(session->szAddress[i], targets[i].data(), std::min<std::size_t>(targets[i].size(), 23));
    }
    session->nAddresses = static_cast<int16_t>(n);
}

}  // namespace

extern "C" {

KORVEX_API int32_t KorvexAPI_Make_Connection(TCPLIBRARY_STRUCTURE *, TCPSESSION_STRUCTURE *session, int32_t) {
    return vellor::guarded(-1, [&]() -> int32_t {
        if (!session) return -1;
        session->nSocket = 0;
        if (!network_ready()) {
            session->nLastError = WSASYSNOTREADY;
            return -1;
        }
        std::string host(session->szHostAddress, ::strnlen(session->szHostAddress, sizeof session->szHostAddress));
        std::vector<std::string> targets;
        in_addr probe{};
        if (::inet_pton(AF_INET, host.c_str(), &probe) == 1) {
            targets.push_back(host);
        } else if (host.empty() || lookup_ipv4(host, targets) != Lookup::Found) {
            session->nLastError = WSAHOST_NOT_FOUND;
            return -1;
        } else {
            list_addresses(session, targets);
        }
        int timeout = timeout_ms();
        for (const std::string &addr : targets) {
            int err = 0;
            SOCKET s = connect_one(addr, static_cast<uint16_t>(session->nPort), timeout, err);
            if (s != INVALID_SOCKET) {
                session->nSocket = static_cast<uint32_t>(s);
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
        SOCKET s = static_cast<SOCKET>(session->nSocket);
        session->nSocket = 0;
        return ::closesocket(s) == 0 ? 0 : -1;
    });
}

}  // extern "C"
