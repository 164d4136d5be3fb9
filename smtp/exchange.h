// The command and reply exchange of one SMTP transaction: one 512-byte
// buffer for every command, whole replies assembled from the bytes as they
// arrive (see the reply reader), each parsed once into a reply value
// (smtp/reply.h) that the session judges. Every byte goes through the connection object (transport/
// connection.h), in the clear or inside TLS alike. Each wait for a reply is
// bounded by one deadline of the connection's time-out, however the reply
// trickles in; the DATA wait's whole run of replies shares one deadline. A
// command or body is sent whole or not at all: partial sends are continued
// until every byte is written, each piece within one time-out.
#pragma once
#include <chrono>
#include <cstdarg>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "smtp/reply.h"
#include "smtp/reply_reader.h"
#include "support/secret_mask.h"
#include "transport/connection.h"

namespace vellor::smtp {

constexpr std::size_t kExchangeBuffer = 512;
constexpr int kDataWaitReceives = 1000;

enum class DataWait { Ready, Refused, Closed, GaveUp };

class Exchange {
public:
    using Deadline = transport::Deadline;

    // `secrets` are the call's credentials: every text of a reply is masked
    // with them before it is cut or shown.
    Exchange(transport::Connection &connection, Secrets &secrets);

    // Formats a command into the buffer (cut to fit) and sends it whole. A
    // command whose arguments hold a CR, LF is never sent. -1 on failure,
    // the socket error then in wsa_error().
    int command(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
    // Sends bytes that are not in the buffer (QUIT, end of data, the body),
    // all of them: the count, or -1 when the connection failed first.
    // `more` tells the socket that more follows at once (the body before the
    // end-of-data line), so both leave in as few segments as possible.
    int send_raw(const char *data, std::size_t len, bool more = false);
    // One whole reply within one time-out: its length, 0 when the server
    // closed the connection first, -1 on a time-out or socket error.
    int read_reply();
    DataWait wait_for_data_reply();

    // The last whole reply, parsed (code 0 when none came); its first 4 KiB
    // (all its lines) and its first line.
    const Reply &reply() const { return reply_; }
    const std::string &full_reply() const { return full_; }
    std::string first_line() const;
    // The text a reply's first line carries in Base64 after its code (a
    // login mechanism's challenge), decoded from the whole line and masked.
    std::string challenge() const;

    // The dialogue, when asked for: each command sent (code 0), each reply
    // (its code), each note (-1). A command marked secret shows as ****,
    // and the reply that follows a line of login data shows its code only
    // ("535 ****": a server may echo what it was sent).
    std::function<void(int code, const std::string &text)> dialogue;
    void mark_secret() { secret_ = true; }
    // A credential (a password, a token, a line of login data as sent):
    // wherever a later reply quotes it, every reader of the reply (the
    // dialogue, full_reply, first_line, the reports made from them) sees
    // "****" instead. Texts under 4 characters are not taken.
    void add_secret(const std::string &secret) { secrets_.add(secret); }
    // Sends a line of login data whole, however long (a token does not fit
    // the command buffer), shown as `shown`; -1 when the connection failed.
    int secret_line(const std::string &line, const std::string &shown);
    void note(const std::string &text) {
        if (dialogue) dialogue(-1, text);
    }
    // Pipelining: commands formatted and checked as command() does, held,
    // then sent in one write by flush().
    bool queue(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
    int flush();
    // Bytes shown already (an earlier message's held end of data) put ahead
    // of the commands queued, to leave in the same write.
    void queue_front(const std::string &bytes) { queued_.insert(0, bytes); }
    // Bytes that are no command (a BDAT chunk), queued after the commands.
    void queue_raw(const std::string &bytes) { queued_.append(bytes); }
    // The connection is of no further use (it is in a state no command can
    // leave cleanly).
    void abandon() { broken_ = true; }
    // Sends a control line (QUIT, the end-of-data line) and shows it.
    int control(const char *line);
    // Shows a line that left with other bytes.
    void note_sent(const char *line) {
        if (dialogue) dialogue(0, line);
    }
    int wsa_error() const { return wsa_error_; }
    unsigned socket() const { return connection_.socket(); }
    // True once a receive or send has failed: the connection is of no
    // further use.
    bool broken() const { return broken_; }
    // Over a session kept from an earlier call (smtp/kept_session.cpp):
    // while `on_kept`, the next reply is the first one since; `stale` once
    // it did not come or was 421 (the server ended the session meanwhile).
    bool on_kept = false;
    bool stale = false;
    bool went_stale() const { return stale || (on_kept && broken_); }
    // A new connection starts with nothing held.
    void restart() {
        reader_.clear();
        broken_ = false;
    }

private:
    int read_reply_by(Deadline deadline, bool first);
    std::size_t format_line(const char *fmt, va_list ap);

    transport::Connection &connection_;
    char buf_[kExchangeBuffer];
    ReplyReader reader_;
    int wsa_error_ = 0;
    bool broken_ = false;
    bool secret_ = false;
    bool mask_reply_ = false;  // the next reply follows a line of login data
    std::string queued_;
    std::string full_;  // the last reply's full text, credentials masked
    Reply reply_;
    Secrets &secrets_;
};

}  // namespace vellor::smtp
