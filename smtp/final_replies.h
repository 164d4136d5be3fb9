// The batch messages whose end-of-data line has gone, or waits to go with
// the next commands, and whose final reply is still to be read. With the
// Pipelining option, a server offering PIPELINING and a delivery that can
// wait for the outcome (Session::settled set), a batch message's end-of-data
// line is held and leaves in one write with the next message's MAIL, RCPT
// and DATA, or with the closing QUIT: one round trip per message. The
// replies come in order, so the held messages' final replies are read first,
// each judged as the lockstep dialogue judges it, reported, and handed to
// the delivery through Session::settled, in order, exactly once; only then may
// the delivery remove the message's file. A message whose reply never comes
// (the connection broke or closed first) is settled as not accepted: its
// file stays for the next pass.
#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace vellor {
namespace smtp {
class Exchange;
struct Session;

// With CHUNKING a message's whole dialogue may be due: the replies to
// MAIL FROM and each RCPT TO, then one to each BDAT chunk, judged as the
// lockstep dialogue judges them (902, 903, 904); with DATA only the reply
// to the end of data is due.
struct DueFinal {
    int attempt = 1;
    std::string sender;
    std::string accepted_report;     // the end report once accepted
    std::vector<std::string> rcpts;  // RCPT replies due (MAIL FROM's first, when any is)
    bool mail = false, singular = false;
    int chunks = 1;      // replies due to the data
    uint64_t bytes = 0;  // the message's size, for the window
};

struct Finals {
    std::string held;          // bytes that go ahead of the next command
    std::deque<DueFinal> due;  // oldest first
    uint64_t due_bytes() const;
};

// The window of messages in flight with CHUNKING and Pipelining: before a
// message's commands go, every due reply is read once this many messages,
// or this many bytes, are in flight.
constexpr std::size_t kWindowMessages = 32;
constexpr uint64_t kWindowBytes = uint64_t{1} << 20;
void keep_window(Session &session, Exchange &x);

// The held bytes put ahead of what the exchange has queued (a command
// group, or QUIT), so that they leave in the same write.
void send_held_with(Session &session, Exchange &x);
// Reads each due final reply in order, reports it and settles its message.
// A reply that does not come settles that message and every later one as
// not accepted.
void read_finals(Session &session, Exchange &x);
// The held bytes sent, then every due final reply read (read_finals).
void settle_finals(Session &session, Exchange &x);
// The connection is of no further use: every due message is settled as not
// accepted and the held bytes go nowhere.
void drop_finals(Session &session);

}  // namespace smtp
}  // namespace vellor
