// The final replies read after the next commands went (see final_replies.h).
#include "smtp/final_replies.h"

#include "smtp/call.h"
#include "smtp/exchange.h"
#include "support/text.h"

namespace vellor::smtp {
namespace {

std::string numbered(const Call &call, int attempt, const std::string &text) {
    return call.prefixed(format("[%d] - ", attempt), text);
}

void settle(Call &call, bool accepted) {
    DueFinal f = std::move(call.finals.due.front());
    call.finals.due.pop_front();
    if (accepted) {
        call.status_then_log(922, 0, numbered(call, f.attempt, f.accepted_report));
    } else {
        std::string line = numbered(call, f.attempt, "Data was not accepted by server...");
        call.log(line);
        call.req->nErrorCode = 904;
        call.status(920, 904, line);
        call.log(numbered(call, f.attempt, format("FAILED to send message from [%s]...", f.sender.c_str())));
    }
    if (call.settled) call.settled(accepted);
}

}  // namespace

void send_held_with(Call &call, Exchange &x) {
    x.queue_front(call.finals.held);
    call.finals.held.clear();
}

void read_finals(Call &call, Exchange &x) {
    while (!call.finals.due.empty()) {
        if (x.broken() || x.read_reply() <= 0) {
            drop_finals(call);
            return;
        }
        settle(call, !x.begins("550") && (x.begins("250 ") || x.begins("250-")));
    }
}

void drop_finals(Call &call) {
    call.finals.held.clear();
    while (!call.finals.due.empty()) settle(call, false);
}

}  // namespace vellor::smtp
