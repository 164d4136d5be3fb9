// Winsock send / recv / WSAGetLastError on the companion's connections. The
// socket's own time-outs (SO_RCVTIMEO, SO_SNDTIMEO) bound each call. They
// keep no state about a socket: a connection whose wait timed out is spent
// by the transport's own record of it (transport/wire.h). Windows sends
// raise no signal and no call is interrupted, so the interrupted cases of
// the interface never occur.
#include "platform/winsock.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>
#include <vector>

namespace vellor::winsock {
namespace {

thread_local int t_last_error = 0;

int fail(int err) {
    t_last_error = err;
    return -1;
}

int len_of(std::size_t len) { return len > INT_MAX ? INT_MAX : static_cast<int>(len); }

bool refused(unsigned socket) {
    if (socket == 0) {
        t_last_error = 10038;  // not a socket: 0 is "no socket" in a session record
        return true;
    }
    return false;
}

}  // namespace

int send(unsigned socket, const char *buf, std::size_t len, int) {
    if (refused(socket)) return -1;
    int n = ::send(static_cast<SOCKET>(socket), buf, len_of(len), 0);
    return n == SOCKET_ERROR ? fail(::WSAGetLastError()) : n;
}

int recv(unsigned socket, char *buf, std::size_t len, int flags) {
    if (refused(socket)) return -1;
    int n = ::recv(static_cast<SOCKET>(socket), buf, len_of(len), flags);
    return n == SOCKET_ERROR ? fail(::WSAGetLastError()) : n;
}

int recv_once(unsigned socket, char *buf, std::size_t len) { return recv(socket, buf, len, 0); }

int recv_within(unsigned socket, char *buf, std::size_t len, int ms) {
    if (refused(socket)) return -1;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(static_cast<SOCKET>(socket), &readable);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    int r = ::select(0, &readable, nullptr, nullptr, &tv);
    if (r == 0) return fail(WSAETIMEDOUT);
    if (r == SOCKET_ERROR) return fail(::WSAGetLastError());
    return recv(socket, buf, len, 0);
}

int input_waiting(unsigned socket) {
    if (refused(socket)) return -1;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(static_cast<SOCKET>(socket), &readable);
    timeval tv{0, 0};
    int r = ::select(0, &readable, nullptr, nullptr, &tv);
    return r == SOCKET_ERROR ? -1 : r > 0 ? 1 : 0;
}

// The wait for room, then the send (bounded by the socket's own time-out).
int send_within(unsigned socket, const char *buf, std::size_t len, int ms) {
    if (refused(socket)) return -1;
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(static_cast<SOCKET>(socket), &writable);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    int r = ::select(0, nullptr, &writable, nullptr, &tv);
    if (r == 0) return fail(WSAETIMEDOUT);
    if (r == SOCKET_ERROR) return fail(::WSAGetLastError());
    return send(socket, buf, len, 0);
}

// Whether the socket is ready now (readable, or writable when `write`):
// 1, 0, or -1 with the error recorded.
int ready_now(unsigned socket, bool write) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(static_cast<SOCKET>(socket), &set);
    timeval tv{0, 0};
    int r = write ? ::select(0, nullptr, &set, nullptr, &tv) : ::select(0, &set, nullptr, nullptr, &tv);
    return r == SOCKET_ERROR ? fail(::WSAGetLastError()) : r;
}

// A blocking send waits until every byte is taken: the socket is made
// non-blocking for this one send, so it moves what fits.
int send_now(unsigned socket, const char *buf, std::size_t len, int) {
    if (refused(socket)) return -1;
    auto s = static_cast<SOCKET>(socket);
    u_long on = 1, off = 0;
    if (::ioctlsocket(s, FIONBIO, &on) == SOCKET_ERROR) return fail(::WSAGetLastError());
    int n = ::send(s, buf, len_of(len), 0);
    int err = n == SOCKET_ERROR ? ::WSAGetLastError() : 0;
    ::ioctlsocket(s, FIONBIO, &off);
    return n == SOCKET_ERROR ? fail(err) : n;
}

int recv_now(unsigned socket, char *buf, std::size_t len) {
    if (refused(socket)) return -1;
    int r = ready_now(socket, false);
    if (r <= 0) return r < 0 ? -1 : fail(WSAEWOULDBLOCK);
    return recv(socket, buf, len, 0);
}

int wait_sockets(SocketWait *waits, std::size_t count, int ms) {
    std::vector<WSAPOLLFD> p(count);
    for (std::size_t i = 0; i < count; ++i) {
        p[i].fd = static_cast<SOCKET>(waits[i].socket);
        p[i].events = waits[i].write ? POLLWRNORM : POLLRDNORM;
    }
    int r = count ? ::WSAPoll(p.data(), static_cast<ULONG>(count), ms) : (::Sleep(static_cast<DWORD>(ms)), 0);
    if (r == SOCKET_ERROR) return fail(::WSAGetLastError());
    for (std::size_t i = 0; i < count; ++i) waits[i].ready = p[i].revents != 0;
    return r;
}

int WSAGetLastError() { return t_last_error; }

int address_bytes(const std::string &text, unsigned char out[16]) {
    if (::inet_pton(AF_INET, text.c_str(), out) == 1) return 4;
    return ::inet_pton(AF_INET6, text.c_str(), out) == 1 ? 6 : 0;
}

int address_family(const std::string &text) {
    unsigned char probe[16];
    return address_bytes(text, probe);
}

}  // namespace vellor::winsock
