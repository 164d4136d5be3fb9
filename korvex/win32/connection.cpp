// The companion's sockets on Windows, with Winsock (started once per
// process, on first use): a non-blocking connect bounded by select(), then
// a blocking socket with SO_RCVTIMEO/SO_SNDTIMEO. Winsock never hands out
// socket 0. The steps of a race (begin, wait, finish) over IPv4 and IPv6
// addresses, a connection bound to a source address when one is given.
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
int await_connect(SOCKET s, int timeout) {
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
        if (err == WSAEWOULDBLOCK) err = await_connect(s, timeout);
    }
    if (err != 0) {
        ::closesocket(s);
        return INVALID_SOCKET;
    }
    finish_connect(static_cast<uint32_t>(s), timeout);
    return s;
}

// An address text of either family as a socket address; false when it is none.
bool socket_address(const std::string &text, uint16_t port, sockaddr_storage &ss, int &len) {
    ss = sockaddr_storage{};
    auto *v4 = reinterpret_cast<sockaddr_in *>(&ss);
    auto *v6 = reinterpret_cast<sockaddr_in6 *>(&ss);
    if (::inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        len = sizeof *v4;
        return true;
    }
    if (::inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) != 1) return false;
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    len = sizeof *v6;
    return true;
}

}  // namespace

uint32_t begin_connect(const std::string &address, uint16_t port, const std::string &source, int &err) {
    sockaddr_storage to{}, from{};
    int to_len = 0, from_len = 0;
    err = WSAEINVAL;
    if (!socket_address(address, port, to, to_len)) return 0;
    if (!source.empty() && (!socket_address(source, 0, from, from_len) || from.ss_family != to.ss_family)) return 0;
    SOCKET s = ::socket(to.ss_family, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        err = ::WSAGetLastError();
        return 0;
    }
    u_long nonblocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonblocking);
    err = 0;
    if (!source.empty() && ::bind(s, reinterpret_cast<sockaddr *>(&from), from_len) == SOCKET_ERROR)
        err = ::WSAGetLastError();
    else if (::connect(s, reinterpret_cast<sockaddr *>(&to), to_len) == SOCKET_ERROR)
        err = ::WSAGetLastError() == WSAEWOULDBLOCK ? 0 : ::WSAGetLastError();
    if (err == 0) return static_cast<uint32_t>(s);
    ::closesocket(s);
    return 0;
}

int wait_connects(const std::vector<uint32_t> &sockets, int ms, int &err) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    for (uint32_t s : sockets) {
        FD_SET(static_cast<SOCKET>(s), &writable);
        FD_SET(static_cast<SOCKET>(s), &failed);
    }
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    if (::select(0, nullptr, &writable, &failed, &tv) <= 0) return -1;
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        SOCKET s = static_cast<SOCKET>(sockets[i]);
        bool refused = FD_ISSET(s, &failed);
        if (!refused && !FD_ISSET(s, &writable)) continue;
        int e = 0;
        int len = sizeof e;
        ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&e), &len);
        err = refused && e == 0 ? WSAECONNREFUSED : e;
        return static_cast<int>(i);
    }
    return -1;
}

void finish_connect(uint32_t socket, int timeout) {
    SOCKET s = static_cast<SOCKET>(socket);
    u_long nonblocking = 0;
    ::ioctlsocket(s, FIONBIO, &nonblocking);
    BOOL one = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&one), sizeof one);
    DWORD ms = static_cast<DWORD>(timeout);
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&ms), sizeof ms);
    ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char *>(&ms), sizeof ms);
}

int bind_check(const std::string &source) {
    sockaddr_storage at{};
    int len = 0;
    if (!network_ready()) return WSANOTINITIALISED;
    if (!socket_address(source, 0, at, len)) return WSAEINVAL;
    SOCKET s = ::socket(at.ss_family, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return ::WSAGetLastError();
    int rc = ::bind(s, reinterpret_cast<sockaddr *>(&at), len) == SOCKET_ERROR ? ::WSAGetLastError() : 0;
    ::closesocket(s);
    return rc;
}

uint32_t connect_address(const std::string &address, uint16_t port, int timeout_ms, int &err) {
    SOCKET s = connect_one(address, port, timeout_ms, err);
    return s == INVALID_SOCKET ? 0 : static_cast<uint32_t>(s);
}

bool close_connection(uint32_t socket) { return ::closesocket(static_cast<SOCKET>(socket)) == 0; }

bool is_dotted(const std::string &text) {
    in_addr probe{};
    return ::inet_pton(AF_INET, text.c_str(), &probe) == 1;
}

int family_of(const std::string &text) {
    in6_addr probe{};
    return is_dotted(text) ? 4 : ::inet_pton(AF_INET6, text.c_str(), &probe) == 1 ? 6 : 0;
}

}  // namespace korvex
