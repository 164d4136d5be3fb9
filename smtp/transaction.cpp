// The SMTP transaction steps, one function each, with the reply each step
// expects beside it. The failed flag is the one thread of control: once set,
// every later step up to the end report is skipped.
//
// HELO fall-back domains: "localhost.localdomain" when no HELO domain can be
// found, "client.localdomain" for the one repeat after a "501" reply.
// Message files are the delivery's: it removes them after an accepted
// message; a transaction only reads what it is handed.
// A failed connection does not stop the companion's network session: the
// send stops it exactly once at its end, and later recipients of the same
// call (an envelope's list, say) still connect through it.
#include "platform/global_memory.h"
#include "smtp/transaction.h"

#include <cstring>
#include <vector>

#include "smtp/ehlo.h"
#include "smtp/final_replies.h"
#include "smtp/reply_quirks.h"
#include "smtp/auth_encode.h"
#include "support/options.h"
#include "support/text.h"
#include "transport/companion.h"
#include "support/report_texts.h"

namespace vellor {
namespace smtp {

constexpr const char *kHeloFallback = "localhost.localdomain";
constexpr const char *kHeloRepeatFallback = "client.localdomain";

std::function<void(int, const std::string &)> dialogue_of(Session &session, bool on) {
    if (!on) return nullptr;
    return [&session](int code, const std::string &text) {
        session.report(Where::callback, VELLOR_STATUS_DIALOGUE, code, text);
    };
}

Transaction::Transaction(Session &s, const Handoff &h, Variant v, int f)
    : session(s),
      msg(h.message),
      env(h.envelope),
      opts(h.options),
      signer(h.signer),
      variant(v),
      flag(f),
      x(s, s.secrets) {
    x.dialogue = dialogue_of(s, opts.transcript != 0);
}

std::string Transaction::numbered(const std::string &text) const {
    return session.prefixed(fill(texts::kNumbered, {std::to_string(msg.attempt)}), text);
}

void Transaction::fail(int code, const std::string &text) {
    if (x.went_stale()) {  // a kept session the server ended meanwhile: replaced, not reported
        failed = true;
        return;
    }
    std::string line = numbered(text);
    session.report(Where::log, 0, 0, line);
    session.show_error(code);
    if (!failed && limits_connections(x.reply())) limit_line = x.first_line();  // read on past it when pipelined
    failed = true;
    session.report(Where::callback, 920, code, line);
}

namespace {

// Connect (connect flag set). Expects: a connected socket.
bool step_connect(Transaction &t) {
    const std::string &server = t.msg.server, &ip = t.msg.server_ip;
    std::string target = (t.whole_conversation() && !ip.empty()) ? ip : t.session.first_address();
    if (target.empty()) target = ip;  // an IPv6 relay: the record's IPv4 fields stay empty
    bool named = (t.whole_conversation() && !ip.empty()) ? !server.empty() : !equal_nocase(server, target);
    std::string line = named ? t.numbered(format(texts::kTryingServer, server.c_str(), target.c_str()))
                             : t.numbered(format(texts::kTryingAddress, target.c_str()));
    t.session.report(Where::callback_then_log, 921, 0, line);
    if (t.session.connect(0)) return true;
    std::string at = t.session.host_address();
    std::string unable =
        t.numbered(format(texts::kNoConnectionFor, (at.empty() ? target : at).c_str(), t.session.app.c_str()));
    t.session.report(Where::both_as_given, 920, 907, unable);
    t.session.report(Where::callback_then_log, 920, 907, t.numbered(texts::kNoConnectionAborted));
    t.session.show_error(907);
    return false;  // the companion stays started: the send's end step stops it, once
}

// The HELO domain the delivery chose (empty: the fall-back names).
std::string helo_domain(Transaction &t) {
    if (!t.env.helo_domain.empty()) t.session.show_helo_domain(t.env.helo_domain);
    return t.env.helo_domain;
}

}  // namespace

// The greeting command, HELO (or EHLO in the secure modes). Expects a reply
// containing "250" that begins "220"/"250"; "501" earns one repeat; with
// login data the login replaces the test.
void step_helo(Transaction &t, const char *verb) {
    std::string domain = helo_domain(t);
    const char *name = domain.empty() ? kHeloFallback : domain.c_str();
    for (bool repeated = false;;) {
        if (t.x.command("%s %s\r\n", verb, name) == -1) {
            std::string line = t.session.prefixed(texts::kHeloRefused);
            t.session.report(Where::log, 0, 0, line);
            t.session.note_error(t.x.wsa_error());
            t.session.show_error(901);
            t.failed = true;
            t.session.report(Where::callback, 920, 901, line);
            return;
        }
        t.x.read_reply();
        if (std::strcmp(verb, "EHLO") == 0) note_extensions(t);
        if (!helo_passes(t.x.reply())) {
            t.session.show_error(901);
            t.failed = true;
            return;
        }
        if (has_login(t)) {
            login(t);
            return;
        }
        if (t.x.reply().code == 550) break;
        if (t.x.reply().code == 220 || t.x.reply().code == 250) return;
        if (repeated || t.x.reply().code != 501) break;
        repeated = true;
        name = domain.empty() ? kHeloRepeatFallback : domain.c_str();
    }
    t.fail(901, texts::kHeloRefused);
}

void note_extensions(Transaction &t) {
    bool offered = t.x.reply().code == 250;
    t.session.ehlo_text = offered ? t.x.full_reply() : std::string();  // kept with a session kept open
    t.session.offers = offered ? ehlo_offers(t.x.reply()) : Offers{};
    t.session.peer_pipelines = t.session.offers.pipelining;
}

std::string hello_name(Transaction &t) {
    std::string domain = helo_domain(t);
    return domain.empty() ? kHeloFallback : domain;
}

namespace {

// MAIL FROM. Expects "250" (and not "550").
void step_mail_from(Transaction &t) {
    std::string params = mail_parameters(t);
    int sent = t.x.command("MAIL FROM: <%s>%s\r\n", t.env.sender.c_str(), params.c_str());
    t.mail_sent = sent != -1;
    t.body.dkim_field.make();  // while MAIL FROM travels
    if (sent != -1) t.x.read_reply();
    if (sent != -1 && mail_reply_ok(t.x)) return;
    if (sent == -1) t.session.note_error(t.x.wsa_error());
    mail_refused(t);
}

}  // namespace

bool mail_reply_ok(const Exchange &x) { return x.reply().code == 250; }
bool rcpt_reply_ok(const Exchange &x) { return x.reply().code == 250; }

void mail_refused(Transaction &t) { t.fail(902, format(texts::kSenderRefused, t.env.sender.c_str())); }

void rcpt_refused(Transaction &t, const std::string &rcpt, bool singular) {
    t.fail(903, format(singular ? texts::kRecipentRefused : texts::kRecipentsRefused, rcpt.c_str()));
}

void rcpt_announced(Transaction &t, const std::string &rcpt) {
    if (!t.whole_conversation()) return;
    std::string line = t.numbered(format(texts::kRecipientAccepted, rcpt.c_str()));
    t.session.report(Where::both_as_given, 921, 0, line);
}

std::string accepted_report(Transaction &t) { return fill(texts::kSentTo, {t.env.sender, t.env.accepted_to}); }

std::vector<std::string> recipients_of(Transaction &t) {
    if (t.env.unfit_field == 0) return t.env.recipients;
    t.session.report_unfit(912, texts::kListEntryField, t.env.unfit_field);
    t.session.show_error(912);
    t.failed = true;
    return {};
}

namespace {

// RCPT TO, one per recipient. Expects "250" or "250-" (not "550").
// After a refusal the remaining commands are still sent, their replies
// counted as unread so a batch can read them before its RSET.
void step_rcpt_to(Transaction &t) {
    const bool singular = t.env.singular;
    for (const std::string &rcpt : recipients_of(t)) {
        const char *rcpt_c = rcpt.c_str();
        if (t.x.command("RCPT TO: <%s>%s\r\n", rcpt_c, rcpt_parameters(t, rcpt).c_str()) == -1) {
            t.session.note_error(t.x.wsa_error());
            t.fail(903, format(singular ? texts::kRecipientRefused : texts::kRecipientsRefused, rcpt_c));
            continue;
        }
        rcpt_announced(t, rcpt);
        if (t.failed) {
            ++t.unread_replies;
            continue;
        }
        t.x.read_reply();
        if (!rcpt_reply_ok(t.x)) rcpt_refused(t, rcpt, singular);
    }
}

// DATA. Expects "354 " or "354-" within 1000 receives.
void step_data(Transaction &t) {
    if (t.x.command("DATA\r\n") == -1) {
        t.failed = true;
        return;
    }
    switch (t.x.wait_for_data_reply()) {
        case DataWait::Ready:
            return;
        case DataWait::Refused:
        case DataWait::Closed:
            t.failed = true;
            return;
        case DataWait::GaveUp:
            t.fail(904, texts::kDataRefused);
            return;
    }
}

// End of data. Expects "250 " or "250-" (not "550"). A refused message ends
// a whole conversation with QUIT; a batch goes on with RSET instead.
// The end-of-data line held for the next commands, its reply due.
void hold_end_of_data(Transaction &t) {
    if (!t.end_sent) t.session.finals.held.append("\r\n.\r\n");
    t.x.note_sent(".");
    DueFinal due;
    due.attempt = t.msg.attempt;
    due.sender = t.env.sender;
    due.accepted_report = accepted_report(t);
    t.session.finals.due.push_back(std::move(due));
    t.in_flight = true;
}

void step_end_of_data(Transaction &t) {
    if (t.hold_end) return hold_end_of_data(t);
    if (t.end_sent)
        t.x.note_sent(".");  // it left with the body
    else
        t.x.control("\r\n.\r\n");
    if (t.session.awaiting_reply) t.session.awaiting_reply();  // the server is busy with the data
    t.x.read_reply();
    if (data_accepted(t.x.reply())) {
        if (t.whole_conversation() && !keeps_session(t)) t.x.control("QUIT\r\n");
        return;
    }
    t.failed = true;
    if (t.whole_conversation()) t.x.control("QUIT\r\n");
    t.fail(904, texts::kDataNotAccepted);
}

// The end report (made for every message; the fields it quotes are far
// shorter than a report line).
void step_end_report(Transaction &t) {
    if (t.in_flight || t.x.went_stale()) return;  // made when its final reply is in; or replaced
    if (t.failed) {
        t.session.report(Where::log, 0, 0, t.numbered(fill(texts::kFailedFrom, {t.env.sender})));
        return;
    }
    t.session.report(Where::callback_then_log, 922, 0, t.numbered(accepted_report(t)));
}

// The sender and the single recipient go into commands: a line break in
// either would add commands of its own, so the message is refused first.
bool arguments_safe(Transaction &t) {
    if (!one_line_text(t.env.sender)) {
        t.fail(902, texts::kSenderLineBreak);
        return false;
    }
    if (!one_line_text(t.env.recipient)) {
        t.fail(903, texts::kRecipientLineBreak);
        return false;
    }
    return true;
}

// A message file withdrawn, replaced or changed since the delivery opened
// it is not sent: it stays for the next pass.
void check_still_current(Transaction &t) {
    const MessageSource &s = t.msg.source;
    if (t.failed || s.block || t.body.current || !s.current || s.current()) return;
    t.fail(910, format(texts::kFileChangedAfterRead, t.msg.file.c_str()));
}

// A lockstep message after held ones: the held bytes go and their final
// replies are read first.
void settle_finals_now(Transaction &t) {
    Finals &f = t.session.finals;
    if (f.due.empty() && f.held.empty()) return;
    settle_finals(t.session, t.x);
}

// MAIL FROM to the end report, shared by both variants.
void message_steps(Transaction &t) {
    check_still_current(t);
    if (!t.failed) envelope_allowed(t);
    const bool pipelined = t.opts.pipelining && t.session.peer_pipelines;
    if (!t.failed && chunking(t)) {
        if (!pipelined) step_mail_from(t);
        if (!pipelined && !t.failed) step_rcpt_to(t);
        if (!t.failed) chunked_message(t, pipelined);
        if (t.whole_conversation() && t.mail_sent && !t.x.broken() && !keeps_session(t)) t.x.control("QUIT\r\n");
        step_end_report(t);
        return;
    }
    if (!t.failed && pipelined) {
        pipelined_envelope(t);
    } else {
        if (!t.failed) settle_finals_now(t);
        if (!t.failed) step_mail_from(t);
        if (!t.failed) step_rcpt_to(t);
        if (!t.failed) step_data(t);
    }
    t.hold_end = pipelined && !t.whole_conversation() && t.session.settled;
    if (!t.failed) send_body(t);
    if (!t.failed) step_end_of_data(t);
    step_end_report(t);
}

// The end of a whole conversation: its session kept for a later call when
// it is to be, else ended as always.
int end_conversation(Transaction &t) {
    Session &session = t.session;
    bool kept = keeps_session(t) && keep_session(session, t.x, t.opts.keep_connection);
    if (session.socket() > 0 && !kept) {
        if (keeps_session(t)) t.x.control("QUIT\r\n");  // not kept after all: ended as always
        session.close_socket();
    }
    return t.failed ? -1 : 0;
}

}  // namespace
}  // namespace smtp

using namespace smtp;

int SMTP_Deliver_Message(Session &session, const Handoff &handed, int connectFlag) {
    for (bool reuse = connectFlag != 0;;) {  // once more on a new connection when a kept one went stale
        Transaction t(session, handed, Variant::Conversation, connectFlag);
        if (!check_message_source(t)) return -1;
        if (!arguments_safe(t) || !prepare_body(t)) return -1;
        encode_login_data(t);
        t.x.on_kept = connectFlag && reuse_kept_session(t, reuse);
        if (!t.x.on_kept) {
            if (connectFlag && !step_connect(t)) return -1;
            open_session(t);
        }
        message_steps(t);
        if (!t.x.went_stale()) return end_conversation(t);
        replace_stale_session(t);
        reuse = false;
    }
}

namespace smtp {
namespace {

// A failed transaction the server's connection limits explain, noted in
// the session for a pass over several connections.
void note_limit(Transaction &t, bool refused_at_connect) {
    if (refused_at_connect)
        t.session.limit_reason = texts::kConnectionRefusedWhy;
    else if (t.failed && t.session.limit_reason.empty() && !t.limit_line.empty())
        t.session.limit_reason = t.limit_line;  // a pipelined refusal, replies read past it
    else if (t.failed && t.session.limit_reason.empty() && limits_connections(t.x.reply()))
        t.session.limit_reason = t.x.first_line();
}

// Brings a batch connection back to the start of a message after a failed
// one: the replies left unread, then RSET answered "250". A connection that
// broke, or does not answer so, is closed.
void reset_after_failure(Transaction &t) {
    if (t.session.socket() == 0 || !t.mail_sent) return;
    read_finals(t.session, t.x);  // what is due comes before the RSET's reply
    bool ok = !t.x.broken();
    for (; ok && t.unread_replies > 0; --t.unread_replies) ok = t.x.read_reply() > 0;
    if (ok && t.x.command("RSET\r\n") != -1 && t.x.read_reply() > 0 && t.x.reply().code == 250) return;
    t.session.close_socket();
    t.session.report(Where::log, 0, 0, t.numbered(texts::kClosedAfterFailure));
}

}  // namespace
}  // namespace smtp

namespace {

BatchResult send_batch_message(Session &session, const Handoff &handed, int firstFlag, bool reuse) {
    Transaction t(session, handed, Variant::Batch, firstFlag);
    session.limit_reason.clear();
    if (!check_message_source(t)) return BatchResult::MessageFailed;
    if (firstFlag) {
        drop_finals(session);  // a new connection: nothing of the last one is due
        encode_login_data(t);
        t.x.on_kept = reuse_kept_session(t, reuse);
        if (!t.x.on_kept) {
            if (!step_connect(t)) {
                note_limit(t, true);
                return BatchResult::SessionFailed;
            }
            open_session(t);
        }
        if (t.failed) {
            note_limit(t, false);
            step_end_report(t);
            return BatchResult::SessionFailed;
        }
    }
    if (arguments_safe(t) && prepare_body(t)) message_steps(t);
    note_limit(t, false);
    if (t.x.went_stale()) {  // the kept session the server ended meanwhile: this message on a new one
        replace_stale_session(t);
        return send_batch_message(session, handed, firstFlag, false);
    }
    if (t.failed) {
        reset_after_failure(t);
        return BatchResult::MessageFailed;
    }
    return t.in_flight ? BatchResult::InFlight : BatchResult::Sent;
}

}  // namespace

BatchResult SMTP_Send_Batch_Message(Session &session, const Handoff &handed, int firstFlag) {
    return send_batch_message(session, handed, firstFlag, true);
}

bool SMTP_End_Batch(Session &session, const options::MessageOptions &o) {
    if (session.socket() == 0) return session.close_socket();  // never connected, or closed: no QUIT to nobody
    Exchange x(session, session.secrets);
    x.dialogue = dialogue_of(session, o.transcript != 0);
    if (!session.keep_key.empty() && session.socket() != 0) {  // what is due read first, then kept when sure
        if (!session.finals.due.empty() || !session.finals.held.empty()) settle_finals(session, x);
        if (keep_session(session, x, o.keep_connection)) return false;  // not closed
    }
    if (session.finals.due.empty()) {
        x.control("QUIT\r\n");
    } else {  // the held end of data and QUIT in one write, its reply read first
        send_held_with(session, x);
        if (x.queue("QUIT\r\n") && x.flush() == -1) drop_finals(session);
        read_finals(session, x);
    }
    x.read_reply();
    return session.close_socket();
}

}  // namespace vellor
