// The envelope with the Pipelining option, to a server that offers
// PIPELINING: MAIL FROM, every RCPT TO and DATA leave in one write; the
// replies are then read in order and judged as the lockstep dialogue judges
// them. A refused sender or recipient fails the transaction as it would
// there; when DATA was nevertheless answered "354", no end-of-data line is
// ever sent (an empty message could go to the recipients that were
// accepted): the connection is closed instead, and a batch connects again.
// The end of data of an earlier message of the batch, when held
// (smtp/final_replies.h), leads the write, and its reply is read first.
#include "smtp/final_replies.h"
#include "smtp/reply_quirks.h"
#include "smtp/transaction.h"
#include "support/text.h"
#include "support/report_texts.h"

namespace vellor::smtp {
namespace {

bool queue_envelope(Transaction &t, const std::vector<std::string> &rcpts) {
    bool ok = t.x.queue("MAIL FROM: <%s>%s\r\n", t.env.sender.c_str(), mail_parameters(t).c_str());
    for (const std::string &r : rcpts)
        ok = ok && t.x.queue("RCPT TO: <%s>%s\r\n", r.c_str(), rcpt_parameters(t, r).c_str());
    if (!ok || !t.x.queue("DATA\r\n")) return false;  // anything held stays held
    send_held_with(t.session, t.x);
    if (t.x.flush() != -1) return true;
    drop_finals(t.session);
    return false;
}

void judge_replies(Transaction &t, const std::vector<std::string> &rcpts, bool singular) {
    t.body.dkim_field.make();  // while the envelope travels
    if (!t.session.finals.due.empty() && t.session.awaiting_reply) t.session.awaiting_reply();
    read_finals(t.session, t.x);
    t.x.read_reply();
    if (!mail_reply_ok(t.x)) mail_refused(t);
    for (const std::string &r : rcpts) {
        rcpt_announced(t, r);
        t.x.read_reply();
        if (!t.failed && !rcpt_reply_ok(t.x)) rcpt_refused(t, r, singular);
    }
    int got = t.x.read_reply();
    bool ready = got > 0 && data_ready(t.x.reply());
    if (ready && t.failed) {
        t.x.abandon();  // in the data phase with the envelope refused: never send "."
        return;
    }
    // The reply to DATA is known here (replies come in order), so a refusal
    // fails at once with its code, where the lockstep dialogue waits on.
    if (!ready && !t.failed) t.fail(904, texts::kDataRefused);
}

}  // namespace

void pipelined_envelope(Transaction &t) {
    const bool singular = t.env.singular;
    std::vector<std::string> rcpts = recipients_of(t);
    if (!queue_envelope(t, rcpts)) {
        t.session.note_error(t.x.wsa_error());
        mail_refused(t);
        return;
    }
    t.mail_sent = true;
    judge_replies(t, rcpts, singular);
}

}  // namespace vellor::smtp
