// Command/reply exchange over the Winsock stand-ins.
#include "smtp/exchange.h"

#include <sys/socket.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/winsock.h"

namespace vellor::smtp {

int Exchange::command(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf_, sizeof buf_, fmt, ap);
    va_end(ap);
    return send_raw(buf_, std::strlen(buf_));
}

int Exchange::send_raw(const char *data, std::size_t len, bool more) {
    int n = winsock::send(socket(), data, len, more ? MSG_MORE : 0);
    if (n == -1) wsa_error_ = winsock::WSAGetLastError();
    return n;
}

int Exchange::read_reply() {
    std::memset(buf_, 0, sizeof buf_);
    int n = winsock::recv(socket(), buf_, sizeof buf_ - 1, 0);
    if (n > 0) buf_[n] = '\0';
    else if (n == -1) wsa_error_ = winsock::WSAGetLastError();
    return n;
}

DataWait Exchange::wait_for_data_reply() {
    for (int received = 0; received < kDataWaitReceives;) {
        int n = read_reply();
        ++received;
        if (n == 0) return DataWait::Closed;
        if (begins("550")) return DataWait::Refused;
        if (begins("354 ") || begins("354-")) return DataWait::Ready;
    }
    return DataWait::GaveUp;
}

bool Exchange::begins(const char *code) const { return std::strncmp(buf_, code, std::strlen(code)) == 0; }

bool Exchange::contains(const char *code) const { return std::strstr(buf_, code) != nullptr; }

}  // namespace vellor::smtp
