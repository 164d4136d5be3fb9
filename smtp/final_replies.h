// The batch messages whose end-of-data line has gone, or waits to go with
// the next commands, and whose final reply is still to be read. With the
// Pipelining option, a server offering PIPELINING and a delivery that can
// wait for the outcome (Call::settled set), a batch message's end-of-data
// line is held and leaves in one write with the next message's MAIL, RCPT
// and DATA, or with the closing QUIT: one round trip per message. The
// replies come in order, so the held messages' final replies are read first,
// each judged as the lockstep dialogue judges it, reported, and handed to
// the delivery through Call::settled, in order, exactly once; only then may
// the delivery remove the message's file. A message whose reply never comes
// (the connection broke or closed first) is settled as not accepted: its
// file stays for the next pass.
#pragma once
#include <deque>
#include <string>

namespace vellor {
struct Call;
namespace smtp {
class Exchange;

struct DueFinal {
    int attempt = 1;
    std::string sender;
    std::string accepted_report;  // the end report once accepted
};

struct Finals {
    std::string held;          // bytes that go ahead of the next command
    std::deque<DueFinal> due;  // oldest first
};

// The held bytes put ahead of what the exchange has queued (a command
// group, or QUIT), so that they leave in the same write.
void send_held_with(Call &call, Exchange &x);
// Reads each due final reply in order, reports it and settles its message.
// A reply that does not come settles that message and every later one as
// not accepted.
void read_finals(Call &call, Exchange &x);
// The connection is of no further use: every due message is settled as not
// accepted and the held bytes go nowhere.
void drop_finals(Call &call);

}  // namespace smtp
}  // namespace vellor
