// The raw byte path of one connection: its socket's sends and receives,
// each wait bounded by a deadline or by the socket's own time-out. A wait
// that times out spends the connection: every later call on it fails at
// once with kTimedOut, so a late reply is never taken for the next step's.
// The TLS part of a connection reaches the network only through this, so
// its every wait is bounded by the deadline of the step it serves and it
// sees the connection spent too. Relies on the platform's Winsock calls
// (platform/winsock.h), which remember nothing about a socket. A wire run
// on a task loop (platform/task_loop.h) never blocks its thread: when its
// socket has no room or no bytes it gives the thread to the loop's other
// tasks until it has, by the same deadline.
#pragma once
#include <chrono>
#include <cstddef>

namespace vellor::platform {
class TaskLoop;
}

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
    // Waits through `loop` (none: on the thread) from now on; a send bounded
    // by the socket's own time-out waits `timeout_ms` there.
    void run_on(platform::TaskLoop *loop, int timeout_ms) {
        loop_ = loop;
        timeout_ms_ = timeout_ms;
    }
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
    bool on_loop() const;
    // The loop's way: tries at once, and waits for the socket through the loop.
    int loop_send(const char *data, std::size_t len, int flags, Deadline deadline);
    int loop_receive(char *buf, std::size_t len, Deadline deadline);
    int timed_out();

    unsigned socket_;
    int error_ = 0;
    bool spent_ = false;
    platform::TaskLoop *loop_ = nullptr;
    int timeout_ms_ = 0;
};

// Milliseconds left until `deadline`, never below 0.
int ms_left(Deadline deadline);

}  // namespace vellor::transport
