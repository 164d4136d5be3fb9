// The raw byte path over the platform's Winsock calls.
#include "transport/wire.h"

#include "platform/winsock.h"

namespace vellor::transport {

int ms_left(Deadline deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : left > (1 << 30) ? (1 << 30) : static_cast<int>(left);
}

int Wire::send(const char *data, std::size_t len, Deadline deadline) {
    int n = winsock::send_within(socket_, data, len, ms_left(deadline));
    if (n > 0) return n;
    error_ = n == 0 ? kTimedOut : winsock::WSAGetLastError();
    return -1;
}

int Wire::receive(char *buf, std::size_t len, Deadline deadline) {
    int n = winsock::recv_within(socket_, buf, len, ms_left(deadline));
    if (n < 0) error_ = winsock::WSAGetLastError();
    return n;
}

}  // namespace vellor::transport
