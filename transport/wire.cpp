// The raw byte path over the platform's Winsock calls, and the connection's
// spent state.
#include "transport/wire.h"

#include "platform/task_loop.h"
#include "platform/winsock.h"

namespace vellor::transport {

int ms_left(Deadline deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : left > (1 << 30) ? (1 << 30) : static_cast<int>(left);
}

bool Wire::refuse() {
    if (spent_) error_ = kTimedOut;
    return spent_;
}

int Wire::settle(int n) {
    if (n >= 0) return n;
    error_ = winsock::WSAGetLastError();
    if (error_ == kTimedOut) spent_ = true;
    return -1;
}

bool Wire::on_loop() const { return loop_ != nullptr && loop_->in_task(); }

int Wire::timed_out() {
    error_ = kTimedOut;
    spent_ = true;
    return -1;
}

int Wire::loop_send(const char *data, std::size_t len, int flags, Deadline deadline) {
    for (;;) {
        int n = winsock::send_now(socket_, data, len, flags);
        if (n >= 0 || winsock::WSAGetLastError() != winsock::WSAEWOULDBLOCK) return settle(n);
        if (!loop_->wait_socket(socket_, true, ms_left(deadline))) return timed_out();
    }
}

int Wire::loop_receive(char *buf, std::size_t len, Deadline deadline) {
    for (;;) {
        int n = winsock::recv_now(socket_, buf, len);
        if (n >= 0 || winsock::WSAGetLastError() != winsock::WSAEWOULDBLOCK) return settle(n);
        if (!loop_->wait_socket(socket_, false, ms_left(deadline))) return timed_out();
    }
}

int Wire::send(const char *data, std::size_t len, Deadline deadline) {
    if (refuse()) return -1;
    if (on_loop()) return loop_send(data, len, 0, deadline);
    int n = winsock::send_within(socket_, data, len, ms_left(deadline));
    if (n != 0) return settle(n);
    error_ = kTimedOut;  // nothing moved
    return -1;
}

int Wire::receive(char *buf, std::size_t len, Deadline deadline) {
    if (refuse()) return -1;
    if (on_loop()) return loop_receive(buf, len, deadline);
    return settle(winsock::recv_within(socket_, buf, len, ms_left(deadline)));
}

int Wire::send_piece(const char *data, std::size_t len, bool more) {
    if (refuse()) return -1;
    if (on_loop())
        return loop_send(data, len, more ? winsock::kMoreToCome : 0,
                         Clock::now() + std::chrono::milliseconds(timeout_ms_));
    return settle(winsock::send(socket_, data, len, more ? winsock::kMoreToCome : 0));
}

int Wire::receive_first(char *buf, std::size_t len, Deadline deadline) {
    if (refuse()) return -1;
    if (on_loop()) return loop_receive(buf, len, deadline);
    int n = winsock::recv_once(socket_, buf, len);
    if (n == winsock::kInterrupted) return receive(buf, len, deadline);
    return settle(n);
}

}  // namespace vellor::transport
