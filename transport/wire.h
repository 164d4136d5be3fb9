// The raw byte path of one connection: its socket's sends and receives,
// each wait bounded by a deadline. The TLS part of a connection reaches the
// network only through this, so its every wait is bounded by the deadline
// of the step it serves. Relies on the platform's Winsock calls
// (platform/winsock.h).
#pragma once
#include <chrono>
#include <cstddef>

namespace vellor::transport {

using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;

// Winsock-style error codes the transport reports.
constexpr int kTimedOut = 10060;     // WSAETIMEDOUT: a deadline passed
constexpr int kNotSocket = 10038;    // WSAENOTSOCK: no socket (0) or no TLS session
constexpr int kInvalid = 10022;      // WSAEINVAL
constexpr int kConnAborted = 10053;  // WSAECONNABORTED

class Wire {
public:
    explicit Wire(unsigned socket) : socket_(socket) {}
    // Waits until `deadline` for room, then sends what fits: the count
    // (at least 1), or -1 with error() (kTimedOut when the deadline passed;
    // the socket is then spent and every later call on it fails at once).
    int send(const char *data, std::size_t len, Deadline deadline);
    // Waits until `deadline` for bytes, then takes what is there: the count,
    // 0 when the peer closed the connection, or -1 with error().
    int receive(char *buf, std::size_t len, Deadline deadline);
    int error() const { return error_; }
    unsigned socket() const { return socket_; }

private:
    unsigned socket_;
    int error_ = 0;
};

// Milliseconds left until `deadline`, never below 0.
int ms_left(Deadline deadline);

}  // namespace vellor::transport
