// The Winsock stand-ins. Spent sockets are remembered by descriptor and
// socket inode, so a new socket that reuses the descriptor is not spent.
#include "platform/winsock.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <mutex>
#include <set>
#include <utility>

#include "platform/posix/syscalls.h"
#include "common/posix/errno_codes.h"

namespace vellor::winsock {
namespace {

thread_local int t_last_error = 0;

struct Spent {
    std::mutex mu;
    std::set<std::pair<int, ino_t>> set;
    std::atomic<bool> any{false};  // set once a socket is spent: until then no send or receive takes the lock
};
Spent &spent() {
    static Spent *s = new Spent;
    return *s;
}

ino_t inode_of(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 ? st.st_ino : 0;
}

bool is_spent(int fd) {
    Spent &s = spent();
    if (!s.any.load(std::memory_order_acquire)) return false;
    std::lock_guard<std::mutex> g(s.mu);
    return s.set.count({fd, inode_of(fd)}) != 0;
}

void mark_spent(int fd) {
    Spent &s = spent();
    std::lock_guard<std::mutex> g(s.mu);
    s.set.insert({fd, inode_of(fd)});
    s.any.store(true, std::memory_order_release);
}

// Records the error of a failed call; a time-out spends the socket.
int fail(int fd, int err) {
    t_last_error = from_errno(err);
    if (err == EAGAIN || err == ETIMEDOUT) {
        mark_spent(fd);
        t_last_error = WSAETIMEDOUT;
    }
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
    if (is_spent(fd)) {
        t_last_error = WSAETIMEDOUT;
        return -1;
    }
    int system_flags = (flags & ~kMoreToCome) | ((flags & kMoreToCome) ? MSG_MORE : 0);
    ssize_t n;
    do {
        n = sys::table().send(fd, buf, len, system_flags | MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return fail(fd, errno);
    return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

int recv(unsigned socket, char *buf, std::size_t len, int flags) {
    int fd = static_cast<int>(socket);
    if (socket == 0) {
        t_last_error = WSAENOTSOCK;
        return -1;
    }
    if (is_spent(fd)) {
        t_last_error = WSAETIMEDOUT;
        return -1;
    }
    ssize_t n;
    do {
        n = sys::table().recv(fd, buf, len, flags);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return fail(fd, errno);
    return static_cast<int>(n);
}

int recv_once(unsigned socket, char *buf, std::size_t len) {
    int fd = static_cast<int>(socket);
    if (socket == 0 || is_spent(fd)) return recv(socket, buf, len, 0);
    ssize_t n = sys::table().recv(fd, buf, len, 0);
    if (n < 0 && errno == EINTR) return kInterrupted;
    if (n < 0) return fail(fd, errno);
    return static_cast<int>(n);
}

int recv_within(unsigned socket, char *buf, std::size_t len, int ms) {
    int fd = static_cast<int>(socket);
    if (socket == 0 || is_spent(fd)) return recv(socket, buf, len, 0);
    using clock = std::chrono::steady_clock;
    auto deadline = clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
        if (left <= 0) return fail(fd, ETIMEDOUT);
        pollfd p{fd, POLLIN, 0};
        int r = ::poll(&p, 1, static_cast<int>(left));
        if (r > 0) return recv(socket, buf, len, 0);
        if (r == 0) return fail(fd, ETIMEDOUT);
        if (errno != EINTR) return fail(fd, errno);
    }
}

// Tries at once; waits for room (by poll) only when the socket is full.
int send_within(unsigned socket, const char *buf, std::size_t len, int ms) {
    int fd = static_cast<int>(socket);
    if (socket == 0 || is_spent(fd)) return send(socket, buf, len, 0);
    using clock = std::chrono::steady_clock;
    auto deadline = clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        ssize_t n = sys::table().send(fd, buf, len, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n >= 0) return n > INT_MAX ? INT_MAX : static_cast<int>(n);
        if (errno != EAGAIN && errno != EINTR) return fail(fd, errno);
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
        if (left <= 0) return fail(fd, ETIMEDOUT);
        pollfd p{fd, POLLOUT, 0};
        int r = ::poll(&p, 1, static_cast<int>(left));
        if (r == 0) return fail(fd, ETIMEDOUT);
        if (r < 0 && errno != EINTR) return fail(fd, errno);
    }
}

int WSAGetLastError() { return t_last_error; }

}  // namespace vellor::winsock
