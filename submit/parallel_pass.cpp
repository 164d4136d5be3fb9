// The queue pass over several connections (see parallel_pass.h).
#include "submit/parallel_pass.h"

#include <cstring>
#include <deque>
#include <numeric>
#include <utility>
#include <vector>

#include "platform/global_memory.h"
#include "platform/task_loop.h"
#include "submit/delivery.h"
#include "submit/entry_loop.h"
#include "submit/message_in_hand.h"
#include "submit/message_turn.h"
#include "support/log_file.h"
#include "support/report_texts.h"
#include "support/status_callback.h"
#include "support/text.h"
#include "transport/companion.h"

namespace vellor {
namespace {

// One report of a lane, with the lane's record as it was when it reported
// (`report` false: the record as the lane left it, after its last report).
struct Posted {
    int lane = 0, status = 0, code = 0;
    std::string text;
    SMTPSEND_STRUCTURE record;
    bool report = true;
};

// What a lane starts from, copied on the calling thread before the lanes run.
struct LaneStart {
    std::string app;
    VELLOR_STATUS_CALLBACK cb = nullptr;
    LoginState login;
    std::shared_ptr<const dkim::Signer> dkim;
    const options::MessageOptions *pass_options = nullptr;
    smtp::Message hand;
    std::string helo_domain;
    std::string host;  // the relay's address, when the mode set it
    int32_t port = 25;
    transport::Route route;  // and its route (an IPv6 relay's address is there)
    std::string source;      // the address connections are bound to
    options::Family family = options::Family::Auto;
    SMTPSEND_STRUCTURE record;
    options::RequestValues own;  // the record's own options, as the send took them
};

// What the lanes share: the search they take entries from, the pass's
// counts, and the reports waiting for the loop's next turn. The lanes are
// tasks of one loop on the calling thread, so none of it needs a lock: a
// lane gives the thread up only where it waits on the network or for an
// entry another lane may give back.
class Shared : public EntrySource {
public:
    Shared(const std::string &dir, const QueuePass &pass, files::Search &search, int limit, PassCount &n,
           platform::TaskLoop &loop)
        : dir(dir), pass(pass), search_(search), limit_(limit), n_(n), loop_(loop) {}

    // The next entry for the lane's call, its path checked and its file
    // claimed; false when the pass has none left for it. Through a relay,
    // a lane that finds no entry waits while another lane still has one in
    // hand, which that lane may give back (take_back).
    bool take(Delivery &c, TakenEntry &e) override {
        for (;;) {
            if (!next_name(e)) {
                --taking_;  // this lane takes no more
                loop_.wake();
                return false;
            }
            e.usable = usable_entry(c, e.path);
            e.file = MessageFile();
            if (e.usable && !claim_entry(c, nullptr, e.path, e.file)) continue;  // another sender holds it
            ++in_hand_;
            ++n_.seen;
            return true;
        }
    }
    // The entry a lane took is out of its hand: sent, failed, or passed over.
    void release() {
        --in_hand_;
        loop_.wake();
    }
    void done(EntryResult e) override {
        n_.sent += e == EntryResult::Sent;
        n_.aborted = n_.aborted || e == EntryResult::Abort;
        if (e == EntryResult::Stop || e == EntryResult::Abort) end();
    }
    void end() {
        ended_ = true;
        loop_.wake();
    }
    // A lane the server's connection limits ended hands its entry back for
    // the lanes still taking entries; refused to the last of them (the
    // message then fails as on one connection).
    bool take_back(Delivery &, TakenEntry &e) override {
        if (!relay || taking_ <= 1 || ended_) return false;
        e.file.close();  // before another lane claims it
        --taking_;
        --n_.seen;
        ++n_.limited;
        given_back_.emplace_back(e.path, e.number);
        loop_.wake();
        return true;
    }
    // A lane that ends without take() or take_back() saying so (it could
    // not start, it failed, or the pass ended).
    void stop_taking() {
        --taking_;
        loop_.wake();
    }

    // Handed to the application at the loop's next turn.
    void post(Posted p) { posted_.push_back(std::move(p)); }
    // Before the first lane starts: every lane counts among those taking
    // entries, so the first to end at the server's limits can give back.
    void planned(int lanes) { taking_ = lanes; }
    void lane_ended(int accepted) { n_.accepted += accepted; }
    // The reports posted since the last turn.
    void reports(std::deque<Posted> &out) { out.swap(posted_); }

    const std::string &dir;
    const QueuePass &pass;
    bool relay = false;  // one relay: its connection limits end a lane, not its message

private:
    // The next entry's path and number, an entry a limited lane gave back
    // first; false when the pass has none left.
    bool next_name(TakenEntry &e) {
        for (;;) {
            if (ended_) return false;
            if (!given_back_.empty()) {
                e.path = given_back_.front().first;
                e.number = given_back_.front().second;
                given_back_.pop_front();
                return true;
            }
            if (more_ && n_.seen < limit_) {
                e.path = dir + search_.name();
                e.number = ++index_;
                more_ = search_.next();
                return true;
            }
            // None left, unless a lane with one in hand gives it back; each
            // lane's send is bounded by its steps' deadlines.
            if (!relay || in_hand_ == 0 || taking_ <= 1) return false;
            loop_.wait_wake();
        }
    }

    std::deque<std::pair<std::string, int>> given_back_;  // entries (path, number) of limited lanes
    int taking_ = 0;                                      // lanes that may still take entries
    int in_hand_ = 0;                                     // entries lanes took and still hold
    files::Search &search_;
    bool more_ = true;
    int index_ = 0;  // entries looked at, those another sender held included
    const int limit_;
    PassCount &n_;
    platform::TaskLoop &loop_;
    bool ended_ = false;  // no lane takes another entry
    std::deque<Posted> posted_;
};

// One lane's view of the entries the lanes share: it knows whether its lane
// still counts among those taking entries, and leaves their count when the
// lane ends, however it ends.
class LaneEntries : public EntrySource {
public:
    explicit LaneEntries(Shared &s) : s_(s) {}
    LaneEntries(const LaneEntries &) = delete;
    LaneEntries &operator=(const LaneEntries &) = delete;
    ~LaneEntries() override {
        if (holding_) s_.release();
        if (taking_) s_.stop_taking();
    }
    bool take(Delivery &c, TakenEntry &e) override {
        if (holding_) s_.release();  // passed over: it never reached the send
        holding_ = taking_ = s_.take(c, e);
        return taking_;
    }
    void sending(Delivery &c) override { s_.sending(c); }
    void done(EntryResult result) override {
        s_.done(result);
        holding_ = false;
        s_.release();
    }
    bool take_back(Delivery &c, TakenEntry &e) override {
        if (!s_.take_back(c, e)) return false;
        holding_ = taking_ = false;
        s_.release();
        c.report(Where::both_prefixed, 921, 0,
                 fill(texts::kLimitedConnectionEnds, {c.limit_reason, std::to_string(e.number)}));
        c.show_error(0);  // the message has not failed: it waits for another connection
        return true;
    }

private:
    Shared &s_;
    bool taking_ = true;    // counted among the lanes that may take entries
    bool holding_ = false;  // an entry of this lane's is in hand
};

// The lane's companion started and pointed at the relay the pass set; false
// after the report (918) when it cannot start.
bool start_lane(Delivery &c, const LaneStart &from) {
    if (!start_companion(c)) return false;
    (void)c.set_target(from.host, from.port);  // it fitted the caller's record
    c.route = from.route;
    c.source = from.source;
    c.family = from.family;
    return true;
}

// One lane, a task of the pass's loop (none: on the calling thread alone):
// entries taken and sent until the pass has none left for it, then its
// connection closed.
void run_lane(Shared &s, int number, const LaneStart &from, platform::TaskLoop *loop) {
    int accepted = 0;
    SMTPSEND_STRUCTURE record = from.record;
    try {
        LaneEntries entries(s);
        Delivery c;  // the lane's connection, with its own companion block and record
        c.own = from.own;
        LogBatch lines(c.own);  // the lane's own lines, on disk before the lane ends
        c.lines = &lines;
        c.app = from.app;
        c.take_record(&record);
        c.cb = from.cb;
        c.post = [&](int st, int code, const std::string &text) { s.post({number, st, code, text, record}); };
        c.login = from.login;
        c.dkim = from.dkim;
        c.pass_options = from.pass_options;
        c.hand = from.hand;
        c.helo_domain = from.helo_domain;
        if (start_lane(c, from)) {
            c.run_on(loop);
            Lane lane{c};
            if (send_entries(lane, s.pass, entries) && s.pass.finish) s.pass.finish(lane);
            accepted = lane.accepted;
            c.stop_companion(c.app);
        }
    } catch (...) {  // out of memory: this lane ends, its files stay for the next pass
        s.end();
    }
    if (s.pass.envelopes && record.hRecipients) GlobalFree(record.hRecipients);  // the lane's own list
    try {
        s.post({number, 0, 0, {}, record, false});
    } catch (...) {  // out of memory: the record misses what the lane did after its last report
    }
    s.lane_ended(accepted);
}

// The request record as a lane's report left it. Every field follows the
// lane's record, except the caller's own blocks (the recipient list and
// its count, the message block), the count of messages sent (the sum of
// every lane's) and the error codes, which change only when that lane
// changed them, so that a later report of another lane does not undo them.
struct Tally {
    int32_t base = 0;  // nMessagesSent when the pass began
    std::vector<int32_t> sent;
    std::vector<int16_t> error, winsock;
    struct CodeOwner {
        int owner = -1;
        int16_t before = 0;
    } error_owner, winsock_owner;
};

// A lane's code as the record's: a change of the lane's code is the
// record's, except that a lane clearing its code (a limited lane's message
// has not failed) gives back the code its last change replaced (an earlier
// message's failure on that lane, say), and only while no other lane has
// set one since; `owner` is the lane that set the record's code.
int16_t lane_code(int16_t record, int16_t lane_was, int16_t lane_now, int k, Tally::CodeOwner &o) {
    if (lane_now == lane_was) return record;
    if (lane_now != 0) {
        o = {k, record};
        return lane_now;
    }
    if (o.owner != k) return record;
    int16_t back = o.before;
    o = {};
    return back;
}

void apply_record(Delivery &c, const Posted &p, Tally &t) {
    SMTPSEND_STRUCTURE &r = *c.req;
    const SMTPSEND_STRUCTURE &from = p.record;
    const std::size_t k = static_cast<std::size_t>(p.lane);
    HGLOBAL list = r.hRecipients, message = r.hMessage;
    void *locked = r.lpRecipients;
    int16_t count = r.nRecipients, error = r.nErrorCode, winsock = r.nWinsockError;
    r = from;
    r.hRecipients = list;
    r.lpRecipients = locked;
    r.nRecipients = count;
    r.hMessage = message;
    t.sent[k] = from.nMessagesSent;
    show_messages_sent(c, std::accumulate(t.sent.begin(), t.sent.end(), t.base));
    r.nErrorCode = lane_code(error, t.error[k], from.nErrorCode, p.lane, t.error_owner);
    r.nWinsockError = lane_code(winsock, t.winsock[k], from.nWinsockError, p.lane, t.winsock_owner);
    t.error[k] = from.nErrorCode;
    t.winsock[k] = from.nWinsockError;
}

LaneStart lane_start(Delivery &c, const QueuePass &pass) {
    LaneStart from;
    from.app = c.app;
    from.cb = c.cb;
    from.login = c.login;
    from.dkim = c.dkim;
    from.pass_options = c.pass_options;
    from.hand = c.hand;
    from.helo_domain = c.helo_domain;
    from.host = c.host_address();
    from.port = c.port();
    from.route = c.route;
    from.source = c.source;
    from.family = c.family;
    from.record = *c.req;
    from.record.nMessagesSent = 0;
    if (pass.envelopes) {  // each lane reads its envelopes into a list of its own
        from.record.hRecipients = nullptr;
        from.record.lpRecipients = nullptr;
    }
    from.own = c.own;
    return from;
}

}  // namespace

void run_parallel_pass(Delivery &c, const std::string &dir, const QueuePass &pass, files::Search &search, int lanes,
                       int limit, PassCount &n) {
    platform::TaskLoop loop;
    Shared s(dir, pass, search, limit, n, loop);
    s.relay = c.relay;
    const LaneStart from = lane_start(c, pass);
    Tally t;
    t.base = c.messages_sent;
    t.sent.assign(static_cast<std::size_t>(lanes), 0);
    t.error.assign(static_cast<std::size_t>(lanes), from.record.nErrorCode);
    t.winsock.assign(static_cast<std::size_t>(lanes), from.record.nWinsockError);
    s.planned(lanes);
    int added = 0;
    while (added < lanes && loop.add([&s, k = added, &from, &loop] { run_lane(s, k, from, &loop); })) ++added;
    for (int never = added; never < lanes; ++never) s.stop_taking();  // no stack for it: the others do the work
    std::deque<Posted> posted;
    auto hand_out = [&] {
        try {
            s.reports(posted);
            for (const Posted &p : posted) {
                apply_record(c, p, t);
                if (p.report && Report_Status(c.req, p.status, p.text, p.code, c.cb, c.own) != 0)
                    s.end();  // the callback's cancel
            }
        } catch (...) {  // out of memory: the lanes finish what they have in hand
            s.end();
        }
        posted.clear();
    };
    if (!loop.run(hand_out)) {  // this thread cannot run fibers: the lanes one after another
        for (int k = 0; k < added; ++k) {
            run_lane(s, k, from, nullptr);
            hand_out();
        }
    }
    search.close();
    take_from_record(c);
    if (n.limited > 0) c.report(Where::both_prefixed, 921, 0, format(texts::kLimitedConnections, n.limited, lanes));
}

}  // namespace vellor
