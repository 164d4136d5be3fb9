// The companion's sockets on Windows, with Winsock (started once per
// process, on first use): a non-blocking connect bounded by select(), then
// a blocking socket with SO_RCVTIMEO/SO_SNDTIMEO. Winsock never hands out
// socket 0.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>
#include <mutex>

#include "korvex/korvex_internal.h"

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

}  // namespace

uint32_t connect_address(const std::string &address, uint16_t port, int timeout_ms, int &err) {
    SOCKET s = connect_one(address, port, timeout_ms, err);
    return s == INVALID_SOCKET ? 0 : static_cast<uint32_t>(s);
}

bool close_connection(uint32_t socket) { return ::closesocket(static_cast<SOCKET>(socket)) == 0; }

bool is_dotted(const std::string &text) {
    in_addr probe{};
    return ::inet_pton(AF_INET, text.c_str(), &probe) == 1;
}

}  // namespace korvex
