// Winsock send / recv / WSAGetLastError on the companion's connections. The
// socket's own time-outs (SO_RCVTIMEO, SO_SNDTIMEO) bound each call; a
// socket whose send or receive timed out is remembered as spent, so every
// later receive on it fails at once. Spent sockets are remembered by handle
// and by their connection's two ends: a new connection that reuses the
// handle (the system hands a closed socket's handle out again) is not spent. Windows sends raise no signal and no
// call is interrupted, so the interrupted cases of the interface never occur.
#include "platform/winsock.h"

#include <winsock2.h>

#include <atomic>
#include <climits>
#include <map>
#include <mutex>
#include <string>

namespace vellor::winsock {
namespace {

thread_local int t_last_error = 0;

struct Spent {
    std::mutex mu;
    std::map<unsigned, std::string> ends;  // handle -> its connection's local and remote address
    std::atomic<bool> any{false};          // set once a socket is spent: until then no call takes the lock
};
Spent &spent() {
    static Spent *s = new Spent;
    return *s;
}

// The local and the remote address of the socket's connection (empty when
// it has none).
std::string ends_of(unsigned socket) {
    sockaddr_storage local{}, remote{};
    int local_len = sizeof local, remote_len = sizeof remote;
    SOCKET s = static_cast<SOCKET>(socket);
    if (::getsockname(s, reinterpret_cast<sockaddr *>(&local), &local_len) != 0 ||
        ::getpeername(s, reinterpret_cast<sockaddr *>(&remote), &remote_len) != 0)
        return std::string();
    return std::string(reinterpret_cast<const char *>(&local), static_cast<std::size_t>(local_len)) +
           std::string(reinterpret_cast<const char *>(&remote), static_cast<std::size_t>(remote_len));
}

bool is_spent(unsigned socket) {
    Spent &s = spent();
    if (!s.any.load()) return false;
    std::lock_guard<std::mutex> g(s.mu);
    auto it = s.ends.find(socket);
    if (it == s.ends.end()) return false;
    std::string now = ends_of(socket);  // empty too once the peer reset the spent connection
    if (now.empty() || now == it->second) return true;
    s.ends.erase(it);  // the handle now belongs to another connection
    return false;
}

int fail(unsigned socket, int err) {
    t_last_error = err;
    if (err == WSAETIMEDOUT) {
        Spent &s = spent();
        std::lock_guard<std::mutex> g(s.mu);
        s.ends[socket] = ends_of(socket);
        s.any.store(true);
    }
    return -1;
}

int len_of(std::size_t len) { return len > INT_MAX ? INT_MAX : static_cast<int>(len); }

bool refused(unsigned socket) {
    if (socket == 0) {
        t_last_error = 10038;  // not a socket: 0 is "no socket" in a session record
        return true;
    }
    if (is_spent(socket)) {
        t_last_error = WSAETIMEDOUT;
        return true;
    }
    return false;
}

}  // namespace

int send(unsigned socket, const char *buf, std::size_t len, int) {
    if (refused(socket)) return -1;
    int n = ::send(static_cast<SOCKET>(socket), buf, len_of(len), 0);
    return n == SOCKET_ERROR ? fail(socket, ::WSAGetLastError()) : n;
}

int recv(unsigned socket, char *buf, std::size_t len, int flags) {
    if (refused(socket)) return -1;
    int n = ::recv(static_cast<SOCKET>(socket), buf, len_of(len), flags);
    return n == SOCKET_ERROR ? fail(socket, ::WSAGetLastError()) : n;
}

int recv_once(unsigned socket, char *buf, std::size_t len) { return recv(socket, buf, len, 0); }

int recv_within(unsigned socket, char *buf, std::size_t len, int ms) {
    if (refused(socket)) return -1;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(static_cast<SOCKET>(socket), &readable);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    int r = ::select(0, &readable, nullptr, nullptr, &tv);
    if (r == 0) return fail(socket, WSAETIMEDOUT);
    if (r == SOCKET_ERROR) return fail(socket, ::WSAGetLastError());
    return recv(socket, buf, len, 0);
}

// The wait for room, then the send (bounded by the socket's own time-out).
int send_within(unsigned socket, const char *buf, std::size_t len, int ms) {
    if (refused(socket)) return -1;
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(static_cast<SOCKET>(socket), &writable);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    int r = ::select(0, nullptr, &writable, nullptr, &tv);
    if (r == 0) return fail(socket, WSAETIMEDOUT);
    if (r == SOCKET_ERROR) return fail(socket, ::WSAGetLastError());
    return send(socket, buf, len, 0);
}

int WSAGetLastError() { return t_last_error; }

}  // namespace vellor::winsock
