// Winsock send / recv / WSAGetLastError on the connections the companion
// opened. send never raises SIGPIPE; a send or receive that timed out fails
// with WSAETIMEDOUT. They keep no state about a socket: a connection whose
// wait timed out is spent by the transport's own record of it
// (transport/wire.h). Relies on the system call table of syscalls.h.
#pragma once
#include <cstddef>
#include <string>

namespace vellor::winsock {

constexpr int WSAEINVAL = 10022;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAETIMEDOUT = 10060;

// A send flag: more data follows at once (the system may hold this piece
// back to fill a packet). Ignored where the system has no such hint.
constexpr int kMoreToCome = 0x40000000;

// A send interrupted by a signal before moving anything is tried again; a
// partial send returns the count moved.
int send(unsigned socket, const char *buf, std::size_t len, int flags);
int recv(unsigned socket, char *buf, std::size_t len, int flags);
// One receive bounded by the socket's own time-out; kInterrupted when a
// signal came first (the caller then waits by its own deadline).
constexpr int kInterrupted = -2;
int recv_once(unsigned socket, char *buf, std::size_t len);
// One receive that waits at most `ms` milliseconds for data (then
// WSAETIMEDOUT, as a receive time-out). Signals do not end the wait.
int recv_within(unsigned socket, char *buf, std::size_t len, int ms);
// One send that waits at most `ms` milliseconds for room to send, then moves
// what fits without waiting further: the count (a partial send is normal).
// Signals do not end the wait.
int send_within(unsigned socket, const char *buf, std::size_t len, int ms);
// A send or receive that never waits: what moved, or -1 with
// WSAEWOULDBLOCK when the socket has no room or no bytes yet (a loop's
// task then waits for it: platform/task_loop.h).
int send_now(unsigned socket, const char *buf, std::size_t len, int flags);
int recv_now(unsigned socket, char *buf, std::size_t len);
// Waits up to `ms` milliseconds until one of `waits` is ready (readable, or
// writable when `write`), marking each ready one; the count ready (0 when
// the time ran out or a signal came first), or -1.
struct SocketWait {
    unsigned socket = 0;
    bool write = false;
    bool ready = false;
};
int wait_sockets(SocketWait *waits, std::size_t count, int ms);
// Whether anything waits to be read on an idle connection (bytes, or the
// peer's close), without waiting and without reading: 1 yes, 0 no, -1 the
// socket cannot be asked.
int input_waiting(unsigned socket);
int WSAGetLastError();
// 4 for an IPv4 dotted address, 6 for an IPv6 address text (no brackets),
// 0 for anything else (inet_pton's reading); address_bytes also writes the
// address (4 or 16 bytes, network order) into out.
int address_family(const std::string &text);
int address_bytes(const std::string &text, unsigned char out[16]);

}  // namespace vellor::winsock
