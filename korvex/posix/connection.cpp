// The companion's connections: a TCP connection to the session's
// szHostAddress (dotted address, or a host name resolved first and tried
// address by address) and nPort, with a connect time-out, TCP_NODELAY and
// send/receive time-outs of $KORVEXAPI_TIMEOUT_MS. A socket number is never
// 0. nLastError receives the Winsock code of a failed attempt.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/export_guard.h"
#include "korvex/korvex_internal.h"
#include "platform/posix/errno_codes.h"

using namespace korvex;

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
        if (r == 0) err = ETIMEDOUT;
        else if (r < 0) err = errno;
        else ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
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
    timeval tv{timeout / 1000, (timeout % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    return fd;
}

}  // namespace

extern "C" {

KORVEX_API int32_t KorvexAPI_Make_Connection(TCPLIBRARY_STRUCTURE *, TCPSESSION_STRUCTURE *session, int32_t) {
    return vellor::guarded(-1, [&]() -> int32_t {
        if (!session) return -1;
        session->nSocket = 0;
        std::string host(session->szHostAddress, ::strnlen(session->szHostAddress, sizeof session->szHostAddress));
        std::vector<std::string> targets;
        in_addr probe{};
        if (inet_pton(AF_INET, host.c_str(), &probe) == 1) {
            targets.push_back(host);
        } else if (host.empty() || lookup_ipv4(host, targets) != Lookup::Found) {
            session->nLastError = 11001;  // host not found
            return -1;
        } else {
            std::size_t n = std::min<std::size_t>(targets.size(), 8);
            targets.resize(n);
            for (std::size_t i = 0; i < n; ++i) {
                std::memset(session->szAddress[i], 0, sizeof session->szAddress[i]);
                std::memcpy(session->szAddress[i], targets[i].data(), std::min<std::size_t>(targets[i].size(), 23));
            }
            session->nAddresses = static_cast<int16_t>(n);
        }
        int timeout = timeout_ms();
        for (const std::string &addr : targets) {
            int fd = connect_one(addr, static_cast<uint16_t>(session->nPort), timeout);
            if (fd > 0) {
                session->nSocket = static_cast<uint32_t>(fd);
                session->nLastError = 0;
                if (session->nSendBlockSize <= 0) session->nSendBlockSize = send_block_size();
                return 0;
            }
            session->nLastError = static_cast<int16_t>(vellor::winsock::from_errno(errno));
        }
        return -1;
    });
}

KORVEX_API int32_t KorvexAPI_Close_Socket(TCPLIBRARY_STRUCTURE *, TCPSESSION_STRUCTURE *session, int32_t) {
    return vellor::guarded(-1, [&]() -> int32_t {
        if (!session || session->nSocket == 0) return -1;
        int fd = static_cast<int>(session->nSocket);
        session->nSocket = 0;
        return ::close(fd) == 0 ? 0 : -1;
    });
}

}  // extern "C"
