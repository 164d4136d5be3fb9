// The message as BDAT chunks (RFC 3030), with the Chunking option and a
// server whose EHLO reply lists CHUNKING: no 354 to wait for, no
// dot-stuffing, no end-of-data line; the last chunk says LAST and its reply
// is the final one. The DKIM-Signature field leads the first chunk. One
// chunk unless percent reports are asked (SendPercentSent with a send block
// size): then one chunk a block, a report after each.
//
// Lockstep, each command waits for its reply. With Pipelining and a server
// offering PIPELINING, MAIL FROM, the RCPT TO and the chunks leave in one
// write (with several recipients the RCPT replies are read first, so that a
// partly refused envelope sends no data), and in a batch the replies are
// left due (smtp/final_replies.h): several messages are in flight, within
// the window, and each is judged, in order, when its replies are read. A
// BDAT the server does not know (500, 502) leaves the session unsure: the
// connection is closed and the message stays.
#include <memory>

#include "dkim/signer.h"
#include "smtp/final_replies.h"
#include "smtp/reply_quirks.h"
#include "smtp/transaction.h"
#include "support/text.h"
#include "support/report_texts.h"

namespace vellor::smtp {
namespace {

constexpr std::size_t kPiece = 1 << 20;

// The bytes of the DKIM field and the text, in turn.
class ChunkSource {
public:
    ChunkSource(Transaction &t, const std::string *field) : t_(t), field_(field ? *field : std::string()) {}
    uint64_t size() const { return field_.size() + t_.body.size; }
    // Appends [at, at + n) to out; false when the file could not be read.
    bool append(uint64_t at, uint64_t n, std::string &out) {
        for (; n > 0 && at < field_.size(); ++at, --n) out += field_[static_cast<std::size_t>(at)];
        uint64_t from = at - field_.size();
        const MessageBody &b = t_.body;
        if (b.data) {
            out.append(b.data + from, static_cast<std::size_t>(n));
            return true;
        }
        std::size_t start = out.size();
        out.resize(start + static_cast<std::size_t>(n));
        for (uint64_t got = 0; got < n;) {
            int64_t r = b.read_at(&out[start + got], static_cast<std::size_t>(n - got), from + got);
            if (r <= 0) return false;
            got += static_cast<uint64_t>(r);
        }
        return true;
    }

private:
    Transaction &t_;
    std::string field_;
};

// The chunk sizes: one, or one a send block when percent reports are asked.
std::vector<uint64_t> chunk_sizes(const Transaction &t, uint64_t total) {
    int block = t.session.send_block_size();
    if (!(t.opts.send_percent_sent && block > 0 && total > static_cast<uint64_t>(block))) return {total};
    std::vector<uint64_t> sizes;
    for (uint64_t at = 0; at < total; at += static_cast<uint64_t>(block))
        sizes.push_back(std::min<uint64_t>(static_cast<uint64_t>(block), total - at));
    return sizes;
}

void report_percent(Transaction &t, uint64_t sent, uint64_t total) {
    if (!t.opts.send_percent_sent) return;
    long pct = total ? static_cast<long>(static_cast<double>(sent) / static_cast<double>(total) * 100.0) : 100;
    if (pct > 1) t.session.report(Where::callback, 926, 0, format(texts::kPercent, pct > 100 ? 100 : pct));
}

bool chunk_refused(Transaction &t) {
    const int code = t.x.reply().code;
    if (code == 500 || code == 502) t.x.abandon();  // the chunk may have been read as commands
    if (data_accepted(t.x.reply())) return false;
    t.fail(904, texts::kDataNotAccepted);
    return true;
}

// Sends every chunk (queued after the commands already queued when
// `pipelined`); a lockstep chunk waits for its reply. false after the
// failure report.
bool send_chunks(Transaction &t, ChunkSource &src, bool pipelined) {
    const uint64_t total = src.size();
    std::vector<uint64_t> sizes = chunk_sizes(t, total);
    uint64_t at = 0;
    std::string out;
    for (std::size_t k = 0; k < sizes.size(); ++k) {
        const bool last = k + 1 == sizes.size();
        std::string n = std::to_string(sizes[k]);
        if (!t.x.queue(last ? "BDAT %s LAST\r\n" : "BDAT %s\r\n", n.c_str())) return false;
        for (uint64_t done = 0; done < sizes[k];) {
            uint64_t piece = std::min<uint64_t>(sizes[k] - done, kPiece);
            out.clear();
            if (!src.append(at + done, piece, out)) {
                t.fail(910, format(texts::kFileNotReadWhole, t.msg.file.c_str()));
                t.session.close_socket();  // inside a chunk: only a close ends it
                return false;
            }
            t.x.queue_raw(out);
            done += piece;
            if ((!pipelined || piece == kPiece || (done == sizes[k] && sizes.size() > 1)) && t.x.flush() == -1)
                return false;
        }
        at += sizes[k];
        report_percent(t, at, total);
        if (pipelined) continue;
        if (t.x.read_reply() <= 0 || chunk_refused(t)) {
            if (!t.failed) t.fail(904, texts::kDataNotAccepted);
            return false;
        }
    }
    return true;
}

const std::string *signed_field(Transaction &t) {
    if (t.body.dkim_field.empty()) return nullptr;
    std::string why;
    t.body.dkim_field.make();
    const std::string *field = t.body.dkim_field.text(why);
    if (!field) t.fail(dkim::kKeyUnusable, format(texts::kCannotSign, why.c_str()));
    return field;
}

// Replies read now, in order: MAIL FROM, each RCPT TO, each chunk.
void judge_now(Transaction &t, const std::vector<std::string> &rcpts, bool singular, bool mail, int chunks) {
    if (mail && t.x.read_reply() > 0 && !mail_reply_ok(t.x)) mail_refused(t);
    if (mail && t.x.broken() && !t.failed) mail_refused(t);
    for (const std::string &r : rcpts) {
        rcpt_announced(t, r);
        int got = t.x.read_reply();
        if (!t.failed && (got <= 0 || !rcpt_reply_ok(t.x))) rcpt_refused(t, r, singular);
    }
    for (int k = 0; k < chunks; ++k) {
        int got = t.x.read_reply();
        if (got <= 0) {
            if (!t.failed) t.fail(904, texts::kDataNotAccepted);
            return;
        }
        if (!t.failed) chunk_refused(t);
        if (t.x.broken()) return;
    }
}

}  // namespace

bool chunking(const Transaction &t) { return t.opts.chunking && t.session.offers.chunking; }

void chunked_message(Transaction &t, bool pipelined) {
    const std::string *field = signed_field(t);
    if (t.failed) return;
    ChunkSource src(t, field);
    if (!pipelined) {  // MAIL FROM and RCPT TO went in lockstep
        send_chunks(t, src, false);
        return;
    }
    const bool singular = t.env.singular;
    std::vector<std::string> rcpts = recipients_of(t);
    if (t.failed) return;
    const bool defer = !t.whole_conversation() && t.session.settled;
    if (defer) keep_window(t.session, t.x);
    bool ok = t.x.queue("MAIL FROM: <%s>%s\r\n", t.env.sender.c_str(), mail_parameters(t).c_str());
    for (const std::string &r : rcpts)
        ok = ok && t.x.queue("RCPT TO: <%s>%s\r\n", r.c_str(), rcpt_parameters(t, r).c_str());
    t.mail_sent = true;
    if (ok && rcpts.size() > 1) {  // the envelope answered before any data goes
        ok = t.x.flush() != -1;
        if (ok) read_finals(t.session, t.x);
        if (ok) judge_now(t, rcpts, singular, true, 0);
        if (t.failed) return;
        rcpts.clear();
    }
    const bool envelope_due = rcpts.size() == 1;
    if (!ok || !send_chunks(t, src, true) || t.x.flush() == -1) {
        t.session.note_error(t.x.wsa_error());
        if (!t.failed) mail_refused(t);
        return;
    }
    const int chunks = static_cast<int>(chunk_sizes(t, src.size()).size());
    if (!defer) {
        if (envelope_due) judge_now(t, rcpts, singular, true, chunks);
        if (!envelope_due) judge_now(t, {}, singular, false, chunks);
        return;
    }
    DueFinal due{t.msg.attempt, t.env.sender, accepted_report(t), rcpts, envelope_due, singular, chunks, src.size()};
    t.session.finals.due.push_back(std::move(due));
    t.in_flight = true;
}

}  // namespace vellor::smtp
