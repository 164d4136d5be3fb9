// The companion's sockets on POSIX systems: a non-blocking connect bounded
// by poll(), then a blocking socket with SO_RCVTIMEO/SO_SNDTIMEO. A socket
// is never descriptor 0 (0 means "no socket" in a session record). The
// steps of a race (begin, wait, finish) over IPv4 and IPv6 addresses, a
// connection bound to a source address when one is given.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "korvex/korvex_internal.h"
#include "common/posix/errno_codes.h"

namespace korvex {
namespace {

// Connects one address; the descriptor or -1 with errno set.
int connect_one(const std::string &address, uint16_t port, int timeout) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
        errno = EADDRNOTAVAIL;
        return -1;
    }
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    if (fd == 0) {  // 0 means "no socket" in the session record
        int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 1);
        ::close(fd);
        if (moved < 0) return -1;
        fd = moved;
    }
    int rc = ::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
    if (rc < 0 && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        int r;
        do {
            r = ::poll(&p, 1, timeout);
        } while (r < 0 && errno == EINTR);
        int err = 0;
        socklen_t len = sizeof err;
        if (r == 0)
            err = ETIMEDOUT;
        else if (r < 0)
            err = errno;
        else
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
        rc = err ? -1 : 0;
        errno = err;
    }
    if (rc < 0) {
        int e = errno;
        ::close(fd);
        errno = e;
        return -1;
    }
    finish_connect(static_cast<uint32_t>(fd), timeout);
    return fd;
}

// An address text of either family as a socket address; false when it is none.
bool socket_address(const std::string &text, uint16_t port, sockaddr_storage &ss, socklen_t &len) {
    ss = sockaddr_storage{};
    auto *v4 = reinterpret_cast<sockaddr_in *>(&ss);
    auto *v6 = reinterpret_cast<sockaddr_in6 *>(&ss);
    if (inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        len = sizeof *v4;
        return true;
    }
    if (inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) != 1) return false;
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    len = sizeof *v6;
    return true;
}

int fail_with(int fd, int e) {
    if (fd >= 0) ::close(fd);
    errno = e;
    return -1;
}

// A non-blocking socket of the address's family, bound to source when
// given, its connect begun; -1 with errno set.
int begin_one(const std::string &address, uint16_t port, const std::string &source) {
    sockaddr_storage to{}, from{};
    socklen_t to_len = 0, from_len = 0;
    if (!socket_address(address, port, to, to_len)) return fail_with(-1, EINVAL);
    if (!source.empty() && (!socket_address(source, 0, from, from_len) || from.ss_family != to.ss_family))
        return fail_with(-1, EINVAL);
    int fd = ::socket(to.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd == 0) {  // 0 means "no socket" in the session record
        int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 1);
        ::close(fd);
        fd = moved;
    }
    if (fd < 0) return -1;
    if (!source.empty() && ::bind(fd, reinterpret_cast<sockaddr *>(&from), from_len) != 0) return fail_with(fd, errno);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&to), to_len) == 0 || errno == EINPROGRESS) return fd;
    return fail_with(fd, errno);
}

}  // namespace

uint32_t begin_connect(const std::string &address, uint16_t port, const std::string &source, int &err) {
    int fd = begin_one(address, port, source);
    err = fd > 0 ? 0 : vellor::winsock::from_errno(errno);
    return fd > 0 ? static_cast<uint32_t>(fd) : 0;
}

int wait_connects(const std::vector<uint32_t> &sockets, int ms, int &err) {
    std::vector<pollfd> p;
    for (uint32_t s : sockets) p.push_back(pollfd{static_cast<int>(s), POLLOUT, 0});
    int r = ::poll(p.data(), p.size(), ms);
    if (r <= 0) return -1;  // a signal counts as a wait that ended: the caller's deadline goes on
    for (std::size_t i = 0; i < p.size(); ++i) {
        if (!p[i].revents) continue;
        int e = 0;
        socklen_t len = sizeof e;
        ::getsockopt(p[i].fd, SOL_SOCKET, SO_ERROR, &e, &len);
        err = e ? vellor::winsock::from_errno(e) : 0;
        return static_cast<int>(i);
    }
    return -1;
}

int bind_check(const std::string &source) {
    sockaddr_storage at{};
    socklen_t len = 0;
    if (!socket_address(source, 0, at, len)) return vellor::winsock::from_errno(EINVAL);
    int fd = ::socket(at.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int rc = fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&at), len) != 0 ? errno : 0;
    if (fd >= 0) ::close(fd);
    return rc ? vellor::winsock::from_errno(rc) : 0;
}

void finish_connect(uint32_t socket, int timeout) {
    int fd = static_cast<int>(socket);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    timeval tv{timeout / 1000, static_cast<suseconds_t>(timeout % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

uint32_t connect_address(const std::string &address, uint16_t port, int timeout_ms, int &err) {
    int fd = connect_one(address, port, timeout_ms);
    err = fd > 0 ? 0 : vellor::winsock::from_errno(errno);
    return fd > 0 ? static_cast<uint32_t>(fd) : 0;
}

bool close_connection(uint32_t socket) { return ::close(static_cast<int>(socket)) == 0; }

bool is_dotted(const std::string &text) {
    in_addr probe{};
    return inet_pton(AF_INET, text.c_str(), &probe) == 1;
}

int family_of(const std::string &text) {
    in6_addr probe{};
    return is_dotted(text) ? 4 : inet_pton(AF_INET6, text.c_str(), &probe) == 1 ? 6 : 0;
}

}  // namespace korvex
