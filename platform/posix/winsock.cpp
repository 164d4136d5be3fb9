// The Winsock stand-ins. They remember nothing about a socket: a connection
// whose wait timed out is spent by its own record (transport/wire.h).
#include "platform/winsock.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <climits>
#include <vector>

#include "platform/posix/syscalls.h"
#include "common/posix/errno_codes.h"

namespace vellor::winsock {
namespace {

thread_local int t_last_error = 0;

// Records the error of a failed call; a socket time-out is WSAETIMEDOUT,
// and a call that would have waited (MSG_DONTWAIT) WSAEWOULDBLOCK.
int fail(int err, bool waiting = true) {
    t_last_error = (err == EAGAIN || err == ETIMEDOUT) ? (waiting ? WSAETIMEDOUT : WSAEWOULDBLOCK) : from_errno(err);
    return -1;
}

}  // namespace

constexpr int WSAENOTSOCK = 10038;

int send(unsigned socket, const char *buf, std::size_t len, int flags) {
    int fd = static_cast<int>(socket);
    if (socket == 0) {  // 0 is "no socket" in a session record
        t_last_error = WSAENOTSOCK;
        return -1;
    }
    int system_flags = (flags & ~kMoreToCome) | ((flags & kMoreToCome) ? MSG_MORE : 0);
    ssize_t n;
    do {
        n = sys::table().send(fd, buf, len, system_flags | MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return fail(errno, !(flags & MSG_DONTWAIT));
    return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

int recv(unsigned socket, char *buf, std::size_t len, int flags) {
    int fd = static_cast<int>(socket);
    if (socket == 0) {
        t_last_error = WSAENOTSOCK;
        return -1;
    }
    ssize_t n;
    do {
        n = sys::table().recv(fd, buf, len, flags);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return fail(errno, !(flags & MSG_DONTWAIT));
    return static_cast<int>(n);
}

int recv_once(unsigned socket, char *buf, std::size_t len) {
    int fd = static_cast<int>(socket);
    if (socket == 0) return recv(socket, buf, len, 0);
    ssize_t n = sys::table().recv(fd, buf, len, 0);
    if (n < 0 && errno == EINTR) return kInterrupted;
    if (n < 0) return fail(errno);
    return static_cast<int>(n);
}

int recv_within(unsigned socket, char *buf, std::size_t len, int ms) {
    int fd = static_cast<int>(socket);
    if (socket == 0) return recv(socket, buf, len, 0);
    using clock = std::chrono::steady_clock;
    auto deadline = clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
        if (left <= 0) return fail(ETIMEDOUT);
        pollfd p{fd, POLLIN, 0};
        int r = ::poll(&p, 1, static_cast<int>(left));
        if (r > 0) return recv(socket, buf, len, 0);
        if (r == 0) return fail(ETIMEDOUT);
        if (errno != EINTR) return fail(errno);
    }
}

int input_waiting(unsigned socket) {
    pollfd p{static_cast<int>(socket), POLLIN, 0};
    if (socket == 0) return -1;
    int r;
    do r = ::poll(&p, 1, 0);
    while (r < 0 && errno == EINTR);
    return r < 0 || (p.revents & POLLNVAL) ? -1 : r > 0 ? 1 : 0;
}

// Tries at once; waits for room (by poll) only when the socket is full.
int send_within(unsigned socket, const char *buf, std::size_t len, int ms) {
    int fd = static_cast<int>(socket);
    if (socket == 0) return send(socket, buf, len, 0);
    using clock = std::chrono::steady_clock;
    auto deadline = clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        ssize_t n = sys::table().send(fd, buf, len, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n >= 0) return n > INT_MAX ? INT_MAX : static_cast<int>(n);
        if (errno != EAGAIN && errno != EINTR) return fail(errno);
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
        if (left <= 0) return fail(ETIMEDOUT);
        pollfd p{fd, POLLOUT, 0};
        int r = ::poll(&p, 1, static_cast<int>(left));
        if (r == 0) return fail(ETIMEDOUT);
        if (r < 0 && errno != EINTR) return fail(errno);
    }
}

int send_now(unsigned socket, const char *buf, std::size_t len, int flags) {
    return send(socket, buf, len, flags | MSG_DONTWAIT);
}

int recv_now(unsigned socket, char *buf, std::size_t len) { return recv(socket, buf, len, MSG_DONTWAIT); }

int wait_sockets(SocketWait *waits, std::size_t count, int ms) {
    pollfd few[64];  // a pass's connections at most: no allocation on the loop's every turn
    std::vector<pollfd> many(count > 64 ? count : 0);
    pollfd *p = count > 64 ? many.data() : few;
    for (std::size_t i = 0; i < count; ++i)
        p[i] = pollfd{static_cast<int>(waits[i].socket), static_cast<short>(waits[i].write ? POLLOUT : POLLIN), 0};
    int r = ::poll(p, count, ms);
    if (r < 0) return errno == EINTR ? 0 : -1;
    for (std::size_t i = 0; i < count; ++i) waits[i].ready = p[i].revents != 0;
    return r;
}

int WSAGetLastError() { return t_last_error; }

int address_bytes(const std::string &text, unsigned char out[16]) {
    if (inet_pton(AF_INET, text.c_str(), out) == 1) return 4;
    return inet_pton(AF_INET6, text.c_str(), out) == 1 ? 6 : 0;
}

int address_family(const std::string &text) {
    unsigned char probe[16];
    return address_bytes(text, probe);
}

}  // namespace vellor::winsock
