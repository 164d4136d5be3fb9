// The raw byte path of one connection: its socket's sends and receives,
// each wait bounded by a deadline or by the socket's own time-out. A wait
// that times out spends the connection: every later call on it fails at
// once with kTimedOut, so a late reply is never taken for the next step's.
// The TLS part of a connection reaches the network only through this, so
// its every wait is bounded by the deadline of the step it serves and it
// sees the connection spent too. Relies on the platform's Winsock calls
// (platform/winsock.h), which remember nothing about a socket.
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
    // (at least 1), or -1 with error().
    int send(const char *data, std::size_t len, Deadline deadline);
    // Waits until `deadline` for bytes, then takes what is there: the count,
    // 0 when the peer closed the connection, or -1 with error().
    int receive(char *buf, std::size_t len, Deadline deadline);
    // One send bounded by the socket's own time-out (a partial send is
    // normal); `more`: more follows at once.
    int send_piece(const char *data, std::size_t len, bool more);
    // The first receive of a reply's wait: one system call bounded by the
    // socket's own time-out, or, after a signal, a wait by `deadline`.
    int receive_first(char *buf, std::size_t len, Deadline deadline);
    int error() const { return error_; }
    unsigned socket() const { return socket_; }
    bool spent() const { return spent_; }

private:
    bool refuse();      // true (with kTimedOut) once the connection is spent
    int settle(int n);  // a failed call's error; a time-out spends the connection

    unsigned socket_;
    int error_ = 0;
    bool spent_ = false;
};

// Milliseconds left until `deadline`, never below 0.
int ms_left(Deadline deadline);

}  // namespace vellor::transport
