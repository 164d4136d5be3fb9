// Send_Queued_Messages: one message (a file or hMessage), or the queued
// files of a message directory. The count reported beforehand is taken with
// "*." and the MsgExtension option and decides between one connection per
// file (count below 2) and one batch connection for all (2 or more, closed
// with QUIT); the files sent are those matching "*.txt". A directory pass
// sends at most nMaxMessages files, 250 when that is 0; 1 or a negative
// value sends only the first file found.
//
// One bad message never blocks the queue: an entry that is not a regular
// file, or whose path does not fit the record, is skipped with a report; a
// message the server refuses is left in place and the batch goes on with
// the next (the SMTP layer resets or reconnects). A pass that found
// messages but sent none fails.
#include "msgfiles/message_details.h"
#include "platform/file_search.h"
#include "platform/files.h"
#include "smtp/transaction.h"
#include "submit/delivery.h"
#include "submit/message_turn.h"
#include "support/options.h"
#include "support/text.h"
#include "transport/companion.h"

namespace vellor {

int queue_limit(int32_t maxMessages) { return maxMessages > 0 ? maxMessages : 250; }

bool close_batch_connection(Call &c) { return SMTP_End_Batch(c); }

int count_queued(const std::string &directory) {
    return files::count_matches(directory + "*." + options::msg_extension());
}

// The path must fit the record; whether the entry is a regular file is
// checked where it is opened (the message body), without a link followed.
bool usable_entry(Call &c, const std::string &path) {
    if (path.size() < sizeof c.req->szMessageFile) return true;
    c.log_and_status_prefixed(
        920, 910,
        format("Queued entry [%s] skipped: its path is longer than the record's message file field", path.c_str()));
    return false;
}

bool use_envelope(Call &c) {
    SMTPSEND_STRUCTURE *r = c.req;
    if (VELLOR_Get_Message_Details(r) == 0) return true;
    std::string file = field_text(r->szMessageFile);
    if (r->nErrorCode == kEnvelopeTooLarge)
        c.log_and_status_prefixed(
            920, r->nErrorCode,
            format("Envelope of [%s] names more than 32767 recipients or an address longer than its field: "
                   "message not sent, file kept",
                   file.c_str()));
    else
        c.log_and_status_prefixed(920, r->nErrorCode,
                                  format("Envelope of [%s] cannot be used (error %d): message not sent, file kept",
                                         file.c_str(), r->nErrorCode));
    return false;
}

namespace {

bool names_directory(SMTPSEND_STRUCTURE *r) {
    std::string file = field_text(r->szMessageFile);
    return !r->hMessage && !file.empty() && find_text_nocase(file, field_text(r->szMsgExtension)) == std::string::npos;
}

// nMaxMessages 1 or negative: only the first queued file.
int send_first_only(Call &c, int connectFlag) {
    SMTPSEND_STRUCTURE *r = c.req;
    std::string dir = field_text(r->szMessageFile);
    files::Search search;
    if (!search.first(dir + "*." + options::msg_extension())) return 0;
    if (!usable_entry(c, dir + search.name())) return -1;
    MessageFile file;
    if (!claim_entry(c, nullptr, dir + search.name(), file)) return 0;
    if (!set_field(r->szMessageFile, dir + search.name())) return -1;
    r->nAttempt = 1;
    if (r->bUseEnvFile && !use_envelope(c)) return -1;
    c.log_and_status_prefixed(921, 0, "Sending message to relay server.");
    if (deliver_message(c, connectFlag, &file) != 0) return -1;
    r->nMessagesSent = 1;
    return 0;
}

void close_batch(Call &c) {
    if (!close_batch_connection(c)) return;
    c.log(c.prefixed("Socket closed correctly..."));
    c.log(c.prefixed("Winsock session terminated correctly..."));
}

enum class Entry { Sent, Failed, StopPass };

// One file of a batch; `first` tells whether it must connect.
Entry batch_entry(Call &c, int &first, MessageFile &file) {
    if (c.req->bUseEnvFile && !use_envelope(c)) return Entry::Failed;
    c.log_and_status_prefixed(921, 0, "Sending message to all recipents - to relay server.");
    BatchResult result = deliver_batch_message(c, first, file);
    if (result == BatchResult::SessionFailed) return Entry::StopPass;
    first = c.session->nSocket == 0 ? 1 : 0;
    return result == BatchResult::Sent ? Entry::Sent : Entry::Failed;
}

// A queue pass reads the message options once, when it begins: every read
// still sees every edit of the options made before it, and an edit made
// during the pass applies from the next call on. (One read per message would
// cost a system call per message for nothing.)
class PassOptions {
public:
    explicit PassOptions(Call &c) : c_(c), read_(options::message_options()) { c.pass_options = &read_; }
    ~PassOptions() { c_.pass_options = nullptr; }
    PassOptions(const PassOptions &) = delete;
    PassOptions &operator=(const PassOptions &) = delete;

private:
    Call &c_;
    options::MessageOptions read_;
};

// A batch reads its next file while the server answers the current one's
// data, when the search holds that name already and the pass may send it.
void name_next(Call &c, ReadAhead &ahead, const files::Search &search, const std::string &dir, bool allowed) {
    std::string after = allowed ? search.name_after() : std::string();
    ahead.name(after.empty() ? after : dir + after, c.req->bDeleteMessage != 0);
}

// While it lives, the call's transactions read ahead through `ahead`.
class AheadHook {
public:
    AheadHook(Call &c, ReadAhead &ahead) : c_(c) {
        c.awaiting_reply = [&ahead] { ahead.fill(); };
    }
    ~AheadHook() { c_.awaiting_reply = nullptr; }
    AheadHook(const AheadHook &) = delete;
    AheadHook &operator=(const AheadHook &) = delete;

private:
    Call &c_;
};

int send_directory(Call &c, int connectFlag) {
    SMTPSEND_STRUCTURE *r = c.req;
    PassOptions once(c);
    std::string dir = field_text(r->szMessageFile);
    int count = count_queued(dir);
    c.status(921, 0,
             count == 1 ? c.prefixed("1 message has been identified as waiting to be sent!")
                        : c.prefixed(format("%d messages have been identified as waiting to be sent!", count)));
    files::Search search;
    bool more = search.first(dir + "*.txt");
    bool batch = count >= 2;
    int first = 1, seen = 0;
    ReadAhead ahead;
    AheadHook hook(c, ahead);
    // Entries another sender holds are passed over and count for nothing.
    for (int i = 0; more && seen < queue_limit(r->nMaxMessages); ++i, more = search.next()) {
        const std::string path = dir + search.name();
        const bool usable = usable_entry(c, path);
        MessageFile file;
        if (usable && !claim_entry(c, &ahead, path, file)) continue;
        ++seen;
        r->nAttempt = static_cast<int16_t>(i + 1);
        if (!usable || !set_field(r->szMessageFile, path)) continue;
        if (batch) name_next(c, ahead, search, dir, seen < queue_limit(r->nMaxMessages));
        Entry e = batch ? batch_entry(c, first, file)
                        : (deliver_message(c, connectFlag, &file) == 0 ? Entry::Sent : Entry::Failed);
        if (e == Entry::StopPass) break;
        if (e == Entry::Sent) r->nMessagesSent += 1;
    }
    search.close();
    ahead.clear();
    if (batch) close_batch(c);
    return seen > 0 && r->nMessagesSent == 0 ? -1 : 0;
}

}  // namespace

int Send_Queued_Messages(Call &c, int connectFlag) {
    SMTPSEND_STRUCTURE *r = c.req;
    if (empty(r->szMsgExtension)) (void)set_field(r->szMsgExtension, "TXT");
    if (names_directory(r)) {
        if (r->nMaxMessages != 0 && r->nMaxMessages <= 1) return send_first_only(c, connectFlag);
        return send_directory(c, connectFlag);
    }
    r->nAttempt = 1;
    if (r->bUseEnvFile && !use_envelope(c)) return -1;
    c.log_and_status_prefixed(921, 0, "Sending message to relay server.");
    if (deliver_message(c, connectFlag) == -1) return -1;
    r->nMessagesSent = 1;
    return 0;
}

}  // namespace vellor
