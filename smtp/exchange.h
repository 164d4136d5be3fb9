// The command and reply exchange of one SMTP transaction: one 512-byte
// buffer reused for every command and reply, one send per command, one
// receive per judged reply (the DATA wait excepted), replies judged by the
// characters they begin with. No I/O policy beyond the socket's own
// time-outs, which the companion set.
#pragma once
#include <cstddef>
#include <string>

#include "korvexapi.h"

namespace vellor::smtp {

constexpr std::size_t kExchangeBuffer = 512;
constexpr int kDataWaitReceives = 1000;

enum class DataWait { Ready, Refused, Closed, GaveUp };

class Exchange {
public:
    explicit Exchange(TCPSESSION_STRUCTURE *session) : session_(session) { buf_[0] = '\0'; }

    // Formats a command into the buffer (cut to fit) and sends it once.
    // -1 on failure, the socket error then in wsa_error().
    int command(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
    // Sends bytes that are not in the buffer (QUIT, end of data, the body).
    // `more` tells the socket that more follows at once (the body before the
    // end-of-data line), so both leave in as few segments as possible.
    int send_raw(const char *data, std::size_t len, bool more = false);
    // One receive of at most 511 bytes into the cleared buffer.
    int read_reply();
    DataWait wait_for_data_reply();

    bool begins(const char *code) const;
    bool contains(const char *code) const;
    int wsa_error() const { return wsa_error_; }
    unsigned socket() const { return session_->nSocket; }

private:
    TCPSESSION_STRUCTURE *session_;
    char buf_[kExchangeBuffer];
    int wsa_error_ = 0;
};

}  // namespace vellor::smtp
