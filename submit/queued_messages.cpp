// Send_Queued_Messages: one message (a file or hMessage), or the queued
// files of a message directory. The count reported beforehand decides
// between one connection per file (count below 2) and one batch connection
// for all (2 or more, closed with QUIT); it counts the files the pass sends
// ("*." and szMsgExtension, see queue_pattern). A directory pass
// sends at most nMaxMessages files, 250 when that is 0; 1 or a negative
// value sends only the first file found.
//
// One bad message never blocks the queue: an entry that is not a regular
// file, or whose path does not fit the record, is skipped with a report; a
// message the server refuses is left in place and the batch goes on with
// the next (the SMTP layer resets or reconnects). A pass that found
// messages but sent none fails.
#include "smtp/transaction.h"
#include "submit/delivery.h"
#include "submit/message_in_hand.h"
#include "submit/message_turn.h"
#include "submit/queue_pass.h"
#include "support/options.h"
#include "support/text.h"
#include "support/report_texts.h"

namespace vellor {

bool close_batch_connection(Delivery &c) { return SMTP_End_Batch(c, c.message_options()); }

namespace {

bool names_directory(const Delivery &c) {
    const SMTPSEND_STRUCTURE *r = c.req;
    const std::string &file = c.hand.file;
    return !c.hand.source.block && !file.empty() &&
           find_text_nocase(file, field_text(r->szMsgExtension)) == std::string::npos;
}

// nMaxMessages 1 or negative: only the first queued file, whatever becomes
// of it.
int send_first_only(Delivery &c, int connectFlag) {
    SMTPSEND_STRUCTURE *r = c.req;
    QueuePass pass;
    pass.first_only = true;
    pass.send = [&](Lane &, MessageFile &file) {  // one entry: the calling thread's own lane
        if (r->bUseEnvFile && !use_envelope(c)) return EntryResult::Failed;
        c.report(Where::both_prefixed, 921, 0, texts::kToRelay);
        if (deliver_message(c, connectFlag, &file) != 0) return EntryResult::Failed;
        show_messages_sent(c, 1);
        return EntryResult::Sent;
    };
    PassCount n = run_queue_pass(c, c.hand.file, pass);
    return n.seen > 0 && n.sent == 0 ? -1 : 0;
}

void close_batch(Delivery &c) {
    if (!close_batch_connection(c)) return;
    c.report(Where::log_prefixed, 0, 0, texts::kSocketClosedCorrectly);
    c.report(Where::log_prefixed, 0, 0, texts::kWinsockTerminated);
}

// One file of a batch over the lane's connection.
EntryResult batch_entry(Lane &lane, MessageFile &file) {
    Delivery &c = lane.call;
    if (c.req->bUseEnvFile && !use_envelope(c)) return EntryResult::Failed;
    c.report(Where::both_prefixed, 921, 0, texts::kToRelayAll);
    switch (deliver_batch_message(lane, file)) {
        case BatchResult::SessionFailed:
            return EntryResult::Stop;
        case BatchResult::Sent:
            return EntryResult::Sent;
        case BatchResult::InFlight:
            return EntryResult::InFlight;
        case BatchResult::MessageFailed:
            break;
    }
    return EntryResult::Failed;
}

int send_directory(Delivery &c, int connectFlag) {
    std::string dir = c.hand.file;
    int count = count_queued(c, dir);
    c.report(Where::callback, 921, 0,
             count == 1 ? c.prefixed(texts::kWaitingOne) : c.prefixed(format(texts::kWaitingCount, count)));
    bool batch = count >= 2;
    QueuePass pass;
    pass.read_ahead = batch;
    pass.send = [&](Lane &lane, MessageFile &file) {
        EntryResult e =
            batch ? batch_entry(lane, file)
                  : (deliver_message(lane.call, connectFlag, &file) == 0 ? EntryResult::Sent : EntryResult::Failed);
        if (e == EntryResult::Sent) show_messages_sent(lane.call, lane.call.messages_sent + 1);
        return e;
    };
    if (batch) pass.finish = [](Lane &lane) { close_batch(lane.call); };
    PassCount n = run_queue_pass(c, dir, pass);
    return n.seen > 0 && c.messages_sent == 0 ? -1 : 0;
}

}  // namespace

int Send_Queued_Messages(Delivery &c, int connectFlag) {
    SMTPSEND_STRUCTURE *r = c.req;
    if (empty(r->szMsgExtension)) (void)set_field(r->szMsgExtension, "TXT");
    if (names_directory(c)) {
        if (r->nMaxMessages != 0 && r->nMaxMessages <= 1) return send_first_only(c, connectFlag);
        return send_directory(c, connectFlag);
    }
    c.hand.attempt = 1;
    (void)show_in_record(c);                                   // every text as the record holds it
    if (r->bUseEnvFile && !use_envelope(c, false)) return -1;  // one message: the record's own addresses
    c.report(Where::both_prefixed, 921, 0, texts::kToRelay);
    if (deliver_message(c, connectFlag) == -1) return -1;
    show_messages_sent(c, 1);
    return 0;
}

}  // namespace vellor
