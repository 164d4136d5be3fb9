// The library's send/receive seam: a connection's bytes go through TLS when
// a TLS session was started on it, else straight to the socket. The SMTP
// code speaks through this seam only, so it is the same in the clear and
// inside TLS.
#pragma once
#include <cstddef>

namespace vellor::transport {

// Sends up to len bytes (all of them inside TLS): the count, -1 on failure.
int send(unsigned socket, const char *data, std::size_t len, bool more);
// One receive within `ms`: the count, 0 when the peer closed, -1 on failure.
int recv_within(unsigned socket, char *buf, std::size_t len, int ms);
// The first receive of a wait, bounded by the socket's own time-out (one
// system call when the reply comes in one piece); kInterrupted when a
// signal came first, so the caller goes on by its deadline.
constexpr int kInterrupted = -2;
int recv_first(unsigned socket, char *buf, std::size_t len, int ms);
int last_error();

}  // namespace vellor::transport
