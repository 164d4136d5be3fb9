// errno to Winsock error codes, shared by the library's send/receive and the
// companion's connections on POSIX systems, so both report a failure by the
// same number. Header-only; relies on <cerrno> alone.
#pragma once
#include <cerrno>

namespace vellor::winsock {

inline int from_errno(int e) {
    switch (e) {
        case EINTR:
            return 10004;
        case EBADF:
            return 10009;
        case EACCES:
            return 10013;
        case EFAULT:
            return 10014;
        case EINVAL:
            return 10022;
        case EMFILE:
            return 10024;
        case EAGAIN:
            return 10035;  // WSAEWOULDBLOCK
        case EINPROGRESS:
            return 10036;
        case EALREADY:
            return 10037;
        case ENOTSOCK:
            return 10038;
        case EMSGSIZE:
            return 10040;
        case EADDRINUSE:
            return 10048;
        case EADDRNOTAVAIL:
            return 10049;
        case ENETDOWN:
            return 10050;
        case ENETUNREACH:
            return 10051;
        case ECONNABORTED:
            return 10053;
        case ECONNRESET:
            return 10054;
        case ENOBUFS:
            return 10055;
        case EISCONN:
            return 10056;
        case ENOTCONN:
            return 10057;
        case EPIPE:
            return 10058;
        case ETIMEDOUT:
            return 10060;  // WSAETIMEDOUT
        case ECONNREFUSED:
            return 10061;
        case EHOSTUNREACH:
            return 10065;
        default:
            return 10004;
    }
}

}  // namespace vellor::winsock
