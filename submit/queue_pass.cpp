// The queue pass shared by every directory mode (see queue_pass.h), and
// the steps a single message shares with it.
#include "submit/queue_pass.h"

#include "msgfiles/message_details.h"
#include "platform/file_search.h"
#include "platform/files.h"
#include "submit/entry_loop.h"
#include "submit/message_in_hand.h"
#include "submit/message_turn.h"
#include "submit/parallel_pass.h"
#include "support/options.h"
#include "support/text.h"
#include "support/report_texts.h"

namespace vellor {

int queue_limit(int32_t maxMessages) { return maxMessages > 0 ? maxMessages : 250; }

std::string queue_pattern(const Delivery &c) {  // an extension not given yet is the default one, TXT
    std::string extension = field_text(c.req->szMsgExtension);
    return "*." + (extension.empty() ? std::string("TXT") : extension);
}

int count_queued(const Delivery &c, const std::string &directory) {
    return files::count_matches(directory + queue_pattern(c));
}

// The path must fit the record; whether the entry is a regular file is
// checked where it is opened (the message body), without a link followed.
bool usable_entry(Delivery &c, const std::string &path) {
    if (path.size() < sizeof c.req->szMessageFile) return true;
    c.req->nErrorCode = 910;
    c.report(Where::both_prefixed, 920, 910, format(texts::kEntryPathTooLong, path.c_str()));
    return false;
}

bool use_envelope(Delivery &c, bool queued) {
    SMTPSEND_STRUCTURE *r = c.req;
    if (queued) {  // the sender and recipient must be this envelope's, never the previous message's
        r->szSender[0] = '\0';
        r->szRecipient[0] = '\0';
    }
    int got = read_message_details(r, &envelope_of(c));
    take_from_record(c);  // the envelope's sender and recipient
    const std::string &file = c.hand.file;
    if (queued && envelope_of(c).stamp.size < 0) {  // none read: no stamp
        r->nErrorCode = 911;
        c.report(Where::both_prefixed, 920, 911, format(texts::kEnvelopeMissing, file.c_str()));
        return false;
    }
    if (got == 0) return true;
    if (r->nErrorCode == kEnvelopeTooLarge)
        c.report(Where::both_prefixed, 920, r->nErrorCode, format(texts::kEnvelopeTooLarge, file.c_str()));
    else
        c.report(Where::both_prefixed, 920, r->nErrorCode,
                 format(texts::kEnvelopeUnusable, file.c_str(), r->nErrorCode));
    return false;
}

namespace {

// A pass reads the message options once, when it begins: every read still
// sees every edit of the options made before it, and an edit made during
// the pass applies from the next call on. (One read per message would cost
// a system call per message for nothing.)
class PassOptions {
public:
    explicit PassOptions(Delivery &c) : c_(c), read_(options::message_options(c.own)) { c.pass_options = &read_; }
    ~PassOptions() { c_.pass_options = nullptr; }
    PassOptions(const PassOptions &) = delete;
    PassOptions &operator=(const PassOptions &) = delete;

private:
    Delivery &c_;
    options::MessageOptions read_;
};

// While it lives, the call's transactions read ahead through `ahead`, when
// there is one.
class AheadHook {
public:
    AheadHook(Delivery &c, ReadAhead *ahead) : c_(c) {
        if (ahead) c.awaiting_reply = [ahead, &c] { ahead->fill(c.dkim.get()); };
    }
    ~AheadHook() { c_.awaiting_reply = nullptr; }
    AheadHook(const AheadHook &) = delete;
    AheadHook &operator=(const AheadHook &) = delete;

private:
    Delivery &c_;
};

// The read-ahead names the entry after the current one when the search
// holds that name already and the pass may send it.
void name_next(Delivery &c, ReadAhead &ahead, const files::Search &search, const std::string &dir, bool allowed) {
    std::string after = allowed ? search.name_after() : std::string();
    ahead.name(after.empty() ? after : dir + after, c.req->bDeleteMessage != 0);
}

}  // namespace

bool hand_entry(Delivery &c, const QueuePass &pass, const std::string &path, bool usable, int number) {
    if (usable || !pass.first_only) c.hand.attempt = number;
    if (usable) c.hand.file = path;
    if (!show_in_record(c) || !usable) return false;
    return !pass.envelopes || use_envelope(c);
}

namespace {

// The entries of the calling thread's own search, in name order, each
// claimed as it comes (or taken from the read-ahead); one another sender
// holds is passed over and counts for nothing, and ends a pass of the first
// entry only.
class SearchEntries : public EntrySource {
public:
    SearchEntries(const std::string &dir, const QueuePass &pass, files::Search &search, ReadAhead *ahead, int limit,
                  PassCount &n)
        : dir_(dir), pass_(pass), search_(search), ahead_(ahead), limit_(limit), n_(n) {}

    bool take(Delivery &c, TakenEntry &e) override {
        if (begun_) step();
        begun_ = true;
        for (; more_ && n_.seen < limit_; step()) {
            e.path = dir_ + search_.name();
            e.number = index_ + 1;
            e.usable = usable_entry(c, e.path);
            e.file = MessageFile();
            if (!e.usable || claim_entry(c, ahead_, e.path, e.file)) {
                ++n_.seen;
                return true;
            }
            if (pass_.first_only) return false;
        }
        return false;
    }
    void sending(Delivery &c) override {
        if (ahead_) name_next(c, *ahead_, search_, dir_, n_.seen < limit_);
    }
    void done(EntryResult e) override {
        n_.sent += e == EntryResult::Sent;
        n_.aborted = n_.aborted || e == EntryResult::Abort;
    }

private:
    void step() {
        ++index_;
        more_ = search_.next();
    }
    const std::string &dir_;
    const QueuePass &pass_;
    files::Search &search_;
    ReadAhead *ahead_;
    const int limit_;
    PassCount &n_;
    bool begun_ = false, more_ = true;
    int index_ = 0;  // entries looked at, those another sender held included
};

// The entries over the calling thread's own connection.
void one_lane(Delivery &c, const std::string &dir, const QueuePass &pass, files::Search &search, int limit,
              PassCount &n) {
    ReadAhead ahead;
    ReadAhead *next = pass.read_ahead ? &ahead : nullptr;
    AheadHook hook(c, next);
    Lane lane{c};
    {
        SearchEntries from(dir, pass, search, next, limit, n);
        (void)send_entries(lane, pass, from);
    }
    search.close();
    ahead.clear();
    if (pass.finish) pass.finish(lane);
    n.accepted = lane.accepted;
}

}  // namespace

PassCount run_queue_pass(Delivery &c, const std::string &dir, const QueuePass &pass) {
    PassCount n;
    files::Search search;
    n.found = search.first(dir + queue_pattern(c));
    if (n.found && pass.start && !pass.start()) {
        n.aborted = true;
        return n;
    }
    PassOptions once(c);
    const int limit = pass.first_only ? 1 : queue_limit(c.req->nMaxMessages);
    if (!n.found) {
        Lane lane{c};
        if (pass.finish) pass.finish(lane);
        return n;
    }
    const int lanes = pass.first_only ? 1 : options::queue_connections(c.own);
    if (lanes > 1)
        run_parallel_pass(c, dir, pass, search, lanes, limit, n);
    else
        one_lane(c, dir, pass, search, limit, n);
    return n;
}

}  // namespace vellor
