// The final replies read after the next commands went (see final_replies.h).
#include "smtp/final_replies.h"

#include "smtp/session.h"
#include "smtp/exchange.h"
#include "smtp/reply_quirks.h"
#include "smtp/transaction.h"
#include "support/text.h"
#include "support/report_texts.h"

namespace vellor::smtp {
namespace {

std::string numbered(const Session &session, int attempt, const std::string &text) {
    return session.prefixed(fill(texts::kNumbered, {std::to_string(attempt)}), text);
}

// A BDAT the server did not know: it may have read the chunk as commands,
// so nothing after it can be trusted.
bool unknown_command(const Exchange &x) { return x.reply().code == 500 || x.reply().code == 502; }

// The due message's replies, in order: 0 when accepted, else the code of
// its first refusal. -1 when a reply did not come or cannot be trusted.
int judge(Exchange &x, const DueFinal &f, std::string &why) {
    int code = 0;
    auto next = [&]() { return !x.broken() && x.read_reply() > 0; };
    if (f.mail) {
        if (!next()) return -1;
        if (!mail_reply_ok(x)) code = 902, why = format(texts::kSenderRefused, f.sender.c_str());
    }
    for (const std::string &r : f.rcpts) {
        if (!next()) return -1;
        if (code == 0 && !rcpt_reply_ok(x))
            code = 903, why = format(f.singular ? texts::kRecipentRefused : texts::kRecipentsRefused, r.c_str());
    }
    for (int k = 0; k < f.chunks; ++k) {
        if (!next()) return -1;
        if (unknown_command(x)) {
            x.abandon();
            return code ? code : 904;
        }
        if (code == 0 && !data_accepted(x.reply())) code = 904, why = texts::kDataNotAccepted;
    }
    return code;
}

void settle(Session &session, int code, const std::string &why) {
    DueFinal f = std::move(session.finals.due.front());
    session.finals.due.pop_front();
    auto report = [&] {
        if (code == 0) {
            session.report(Where::callback_then_log, 922, 0, numbered(session, f.attempt, f.accepted_report));
            return;
        }
        std::string line = numbered(session, f.attempt, why);
        session.report(Where::log, 0, 0, line);
        session.show_error(code);
        session.report(Where::callback, 920, code, line);
        session.report(Where::log, 0, 0, numbered(session, f.attempt, format(texts::kFailedFrom, f.sender.c_str())));
    };
    if (session.settled)
        session.settled(code == 0, report);
    else
        report();
}

// Reads the oldest due message's replies; false when the connection is
// of no further use (every due message then settled as not accepted).
bool read_oldest(Session &session, Exchange &x) {
    std::string why = texts::kDataNotAccepted;
    int code = judge(x, session.finals.due.front(), why);
    settle(session, code < 0 ? 904 : code, why);
    if (code >= 0 && !x.broken()) return true;
    drop_finals(session);
    return false;
}

}  // namespace

uint64_t Finals::due_bytes() const {
    uint64_t n = 0;
    for (const DueFinal &f : due) n += f.bytes;
    return n;
}

void send_held_with(Session &session, Exchange &x) {
    x.queue_front(session.finals.held);
    session.finals.held.clear();
}

void read_finals(Session &session, Exchange &x) {
    while (!session.finals.due.empty() && read_oldest(session, x)) {
    }
}

// Every due reply is read, not only the oldest: the reply reader belongs to
// one transaction, so replies it read ahead for a later one would be lost.
void keep_window(Session &session, Exchange &x) {
    Finals &f = session.finals;
    if (f.due.size() >= kWindowMessages || f.due_bytes() >= kWindowBytes) read_finals(session, x);
}

void settle_finals(Session &session, Exchange &x) {
    send_held_with(session, x);
    if (x.flush() == -1) drop_finals(session);
    read_finals(session, x);
}

void drop_finals(Session &session) {
    session.finals.held.clear();
    while (!session.finals.due.empty()) settle(session, 904, texts::kDataNotAccepted);
}

}  // namespace vellor::smtp
