// A message's turn: claim, handover, and what becomes of its file after the
// server's acceptance (see message_turn.h). With bDeleteMessage the file
// goes only while it is still the one that went out and its envelope the
// one that was read; the envelope goes with it. A file held for other recipients goes when the last one took it
// (submit/mx_steps.h).
#include "submit/message_turn.h"

#include "msgfiles/message_details.h"
#include "submit/message_in_hand.h"
#include "submit/mx_steps.h"
#include "support/text.h"
#include "support/report_texts.h"

namespace vellor {
namespace {

std::string directory_part(const std::string &path) {
    std::size_t slash = path.rfind(files::kSeparator);
    return slash == std::string::npos ? path : path.substr(0, slash);
}

// After an accepted message; `conversation`: a whole conversation, which
// reports less than a batch does.
void after_acceptance(Delivery &c, MessageFile &file, bool conversation) {
    SMTPSEND_STRUCTURE *r = c.req;
    if (!r->bDeleteMessage) {  // (a report nobody receives is not written out)
        if (!conversation && c.cb)
            c.report(Where::callback_prefixed, 921, 0, format(texts::kLeftIn, directory_part(c.hand.file).c_str()));
        return;
    }
    std::string name = c.hand.file;
    std::string dir = directory_part(name);
    if (c.held) {
        c.held->hold(name, file);
        return;
    }
    if (!envelope_as_seen(envelope_of(c), name) || !file.remove()) {
        bool refused = envelope_as_seen(envelope_of(c), name) && file.current();  // still there, unchanged
        FileLeft left = refused ? FileLeft::Refused : FileLeft::Changed;
        c.report(Where::both_prefixed, 921, 0, format(left_report(left), name.c_str()));
        return;
    }
    if (!conversation) c.report(Where::callback_prefixed, 921, 0, format(texts::kDeletedFrom, dir.c_str()));
    if (!r->bUseEnvFile) return;
    std::string env = envelope_path_of(name);
    c.hand.file = env;
    (void)show_in_record(c);  // left empty when it does not fit
    if (!files::exists(env)) return;
    files::remove(env);
    if (!conversation) c.report(Where::callback_prefixed, 921, 0, format(texts::kEnvDeletedFrom, dir.c_str()));
}

}  // namespace

bool claim_entry(Delivery &c, ReadAhead *ahead, const std::string &path, MessageFile &file) {
    if (!ahead || !ahead->take(path, file)) file.open(path, true, c.req->bDeleteMessage != 0);
    if (file.state() != smtp::FileState::Claimed) return true;
    c.report(Where::both_prefixed, 921, 0, format(texts::kQueuedClaimed, path.c_str()));
    return false;
}

int deliver_message(Delivery &c, int connectFlag, MessageFile *file) {
    MessageFile own;
    if (!file) {
        file = &own;
        if (!c.hand.file.empty()) own.open(c.hand.file, c.hand.source.queued, c.req->bDeleteMessage != 0);
    }
    Handover handed(c, *file, true);
    if (SMTP_Deliver_Message(c, handed.handoff(), connectFlag) != 0) return -1;
    after_acceptance(c, *file, true);
    return 0;
}

BatchResult deliver_batch_message(Lane &lane, MessageFile &file) {
    Delivery &c = lane.call;
    if (!lane.flight) lane.flight = std::make_shared<FilesInFlight>(c);
    BatchResult result;
    {
        Handover handed(c, file, false);
        result = SMTP_Send_Batch_Message(c, handed.handoff(), lane.first);
    }
    if (result == BatchResult::Sent) after_acceptance(c, file, false);
    if (result == BatchResult::InFlight) lane.flight->hold(std::move(file));
    lane.first = c.socket() == 0 ? 1 : 0;
    return result;
}

FilesInFlight::FilesInFlight(Delivery &c) : c_(c) {
    c.settled = [this](bool accepted, const std::function<void()> &report) { settle(accepted, report); };
}

FilesInFlight::~FilesInFlight() {
    c_.settled = nullptr;
    smtp::drop_finals(c_);  // none after the lane's closing step
}

void FilesInFlight::hold(MessageFile &&file) { held_.push_back({std::move(file), c_.hand, c_.envelope}); }

void FilesInFlight::settle(bool accepted, const std::function<void()> &report) {
    if (held_.empty()) return report();
    Held h = std::move(held_.front());
    held_.pop_front();
    std::swap(c_.hand, h.hand);
    std::swap(c_.envelope, h.envelope);
    (void)show_in_record(c_);  // it fitted when it was handed over
    report();
    if (accepted) {  // else closed here: the file stays, unclaimed
        after_acceptance(c_, h.file, false);
        show_messages_sent(c_, c_.messages_sent + 1);
    }
    std::swap(c_.hand, h.hand);
    std::swap(c_.envelope, h.envelope);
    (void)show_in_record(c_);
}

}  // namespace vellor
