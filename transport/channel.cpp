// The seam over the Winsock stand-ins and the TLS sessions.
#include "transport/channel.h"

#include "platform/winsock.h"
#include "transport/tls.h"

namespace vellor::transport {
namespace {
thread_local bool t_tls_failed = false;
}

int send(unsigned socket, const char *data, std::size_t len, bool more) {
    t_tls_failed = false;
    if (!has_tls(socket)) return winsock::send(socket, data, len, more ? winsock::kMoreToCome : 0);
    int n = tls_send(socket, data, len);
    t_tls_failed = n < 0;
    return n;
}

int recv_within(unsigned socket, char *buf, std::size_t len, int ms) {
    t_tls_failed = false;
    if (!has_tls(socket)) return winsock::recv_within(socket, buf, len, ms);
    int n = tls_recv_within(socket, buf, len, ms);
    t_tls_failed = n < 0;
    return n;
}

int recv_first(unsigned socket, char *buf, std::size_t len, int ms) {
    t_tls_failed = false;
    if (has_tls(socket)) return recv_within(socket, buf, len, ms);
    int n = winsock::recv_once(socket, buf, len);
    return n == winsock::kInterrupted ? kInterrupted : n;
}

int last_error() { return t_tls_failed ? tls_error() : winsock::WSAGetLastError(); }

}  // namespace vellor::transport
