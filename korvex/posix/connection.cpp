// The companion's sockets on POSIX systems: a non-blocking connect bounded
// by poll(), then a blocking socket with SO_RCVTIMEO/SO_SNDTIMEO. A socket
// is never descriptor 0 (0 means "no socket" in a session record).
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
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    timeval tv{timeout / 1000, static_cast<suseconds_t>(timeout % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    return fd;
}

}  // namespace

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

}  // namespace korvex
