// The message body: the source check at the start of a transaction, and the
// body from the request's message block (hMessage, handed over in the
// message source; used in place, up to its first NUL) or from the
// message file the delivery opened and handed over (smtp/message_source.h:
// read ahead already, or streamed in blocks from the page cache, never held
// whole),
// sent exactly as stored: no dot-stuffing, no line-end conversion. With the
// SendPercentSent option on it goes out in blocks of the connection's
// send block size with percent reports (status 926).
//
// The body is checked before MAIL FROM, so a message that cannot go out
// whole is refused before the server hears of it, and its file stays:
//  - a message file is opened only when it is a regular file (a queue entry
//    also not through a symbolic link), and never waits on a FIFO;
//  - a message file holding a NUL byte would be cut there: refused;
//  - a line of a single "." would end the data early: refused, unless the
//    DotStuffing option is on, which sends every line that begins with "."
//    with one more "." in front (whether or not a lone "." is there); a
//    message signed with DKIM is always sent so.
// A body is sent whole or the transaction fails without the end-of-data
// line. Decisions of this library: an hMessage that cannot be locked fails
// the transaction without a code; a send block size of 0 or less sends the
// body as one piece (a file in blocks of 1 MiB, one after the other).

#include <cstring>
#include <ctime>
#include <memory>
#include <optional>

#include "platform/global_memory.h"
#include "smtp/body_check.h"
#include "smtp/message_text.h"
#include "smtp/transaction.h"
#include "support/options.h"
#include "support/text.h"
#include "support/report_texts.h"

namespace vellor::smtp {

namespace {
constexpr std::size_t kFileBlock = 1 << 20;
// The most handed to one send: a length that fits every platform's size_t
// and every count a send reports.
constexpr uint64_t kMostPerSend = uint64_t{1} << 30;
}  // namespace

bool check_message_source(Transaction &t) {
    const MessageSource *s = &t.msg.source;
    if (t.msg.file.empty() && !s->block) {
        t.session.report(Where::both_prefixed, 920, 910,
                         t.whole_conversation() ? texts::kNoMessageConversation : texts::kNoMessage);
        t.session.show_error(910);
        return false;
    }
    // A queue pass has just found its entry: the open of the body checks it.
    if (t.msg.file.empty() || s->queued) return true;
    if (s->state == FileState::Missing) {
        t.session.report(Where::both_prefixed, 920, 910, format(texts::kMessageNotFound, t.msg.file.c_str()));
        t.session.show_error(910);
        return false;
    }
    if (s->state == FileState::Claimed && !s->block) {
        t.fail(910, format(texts::kFileClaimed, t.msg.file.c_str()));
        return false;
    }
    return true;
}

MessageBody::~MessageBody() {
    if (locked) GlobalUnlock(locked);
}

namespace {

// The report on a text holding a NUL byte; false.
bool refuse_nul(Transaction &t, uint64_t at) {
    t.fail(910, format(texts::kFileHoldsNul, t.msg.file.c_str(), static_cast<unsigned long long>(at)));
    return false;
}

// Reads the whole file once in blocks, checking it as it goes; a file of
// more than one block that is signed is read into two blocks in turn, its
// body hash taking one while the next is read and checked. false after the
// failure report.
bool scan_file(Transaction &t, MessageBody &b, const dkim::Signer *signer, CheckedText &found) {
    std::size_t block = static_cast<std::size_t>(std::min<uint64_t>(b.size + 1, kFileBlock));
    bool two = signer && b.size > kFileBlock;
    std::unique_ptr<char[]> bufs[2] = {std::unique_ptr<char[]>(new char[block]),
                                       std::unique_ptr<char[]>(two ? new char[block] : nullptr)};
    TextCheck check(signer, two);
    for (uint64_t at = 0, turn = 0; at < b.size; turn = two ? 1 - turn : 0) {
        char *buf = bufs[turn].get();
        int64_t got = b.read_at(buf, block, at);
        if (got <= 0) {
            t.fail(910, format(texts::kFileNotReadWhole, t.msg.file.c_str()));
            return false;
        }
        if (!check.feed(buf, static_cast<std::size_t>(got))) break;  // a NUL byte: judged by the caller
        if (b.size <= kKeptWhole) b.kept.append(buf, static_cast<std::size_t>(got));
        at += static_cast<uint64_t>(got);
    }
    if (b.size <= kKeptWhole) b.data = b.kept.data();
    found = check.finish(static_cast<long long>(std::time(nullptr)));
    return true;
}

// The text in hand (a block, a text read ahead, or the file read through
// once) and what its check found. false after the failure report.
bool open_source(Transaction &t, MessageBody &b, CheckedText &found) {
    const dkim::Signer *signer = t.signer;
    MessageSource *s = &t.msg.source;
    if (s->block) {
        b.data = static_cast<const char *>(GlobalLock(s->block));
        if (!b.data) {
            t.failed = true;
            return false;
        }
        b.locked = s->block;
        b.size = ::strnlen(b.data, GlobalSize(s->block));
        found = check_text(b.data, b.size, signer);
        return true;
    }
    if (s->state == FileState::Ready && s->has_text) {
        b.kept = std::move(s->text);
        s->has_text = false;  // a later transaction reads the file itself
        b.current = true;     // found current() when handed over, after it was read
        b.size = b.kept.size();
        b.data = b.kept.data();
        bool ahead = s->checked && s->checked->signing == (signer != nullptr);  // checked as it was read ahead
        found = ahead ? std::move(*s->checked) : check_text(b.data, b.size, signer);
        s->checked.reset();
        return true;
    }
    if (s->state != FileState::Ready) {
        t.fail(910, s->queued ? format(texts::kEntryNotRegular, t.msg.file.c_str())
                              : format(texts::kFileNotRegular, t.msg.file.c_str()));
        return false;
    }
    b.read_at = s->read_at;
    b.size = s->size;
    return scan_file(t, b, signer, found);
}

std::string message_name(Transaction &t) {
    return t.msg.source.block ? std::string(texts::kInGlobalMemory) : fill(texts::kQuoted, {t.msg.file});
}

}  // namespace

bool prepare_body(Transaction &t) {
    MessageBody &b = t.body;
    CheckedText found;
    if (!open_source(t, b, found)) return false;
    if (found.nul_at != CheckedText::kNone) return refuse_nul(t, found.nul_at);
    b.eight_bit = found.eight_bit;
    // Stuffing is for every line that begins with ".", not only when a lone
    // "." is there: otherwise the server drops the leading dot of ".NET". A
    // signed message is always stuffed: the receiver removes one leading dot
    // of every line, so only a stuffed body arrives as the text its hash
    // covers (docs/dkim.md).
    b.stuff = t.opts.dot_stuffing != 0 || found.signing;
    if (!b.stuff && found.lone_dot_at != CheckedText::kNone) {
        t.fail(910,
               format(texts::kLoneDot, message_name(t).c_str(), static_cast<unsigned long long>(found.lone_dot_at)));
        return false;
    }
    if (!found.signing) return true;
    if (!found.dkim_field.empty()) {
        b.dkim_field = std::move(found.dkim_field);
        return true;
    }
    t.fail(dkim::kKeyUnusable, format(texts::kMessageCannotSign, message_name(t).c_str(), found.dkim_why.c_str()));
    return false;
}

namespace {

void report_percent(Transaction &t, uint64_t sent, uint64_t length) {
    float pct = static_cast<float>(sent) / static_cast<float>(length) * 100.0f;
    if (!(pct > 1.0f)) return;
    if (pct > 100.0f) pct = 100.0f;
    t.session.report(Where::callback, 926, 0, format(texts::kPercent, static_cast<long>(pct)));
}

// Sends bytes [at, at + n) of the body, stuffed when asked.
class BodySender {
public:
    explicit BodySender(Transaction &t) : t_(t), b_(t.body) {
        if (!b_.data) buf_.reset(new char[kFileBlock]);  // a file too large to be kept whole
    }
    // with_end: a small body and the end-of-data line leave in one send.
    bool send(uint64_t at, uint64_t n, bool with_end = false) {
        if (with_end && b_.data) return send_with_end(b_.data + at, static_cast<std::size_t>(n));
        while (n > 0) {
            std::size_t piece = static_cast<std::size_t>(std::min<uint64_t>(n, b_.data ? kMostPerSend : kFileBlock));
            const char *text = b_.data ? b_.data + at : read(at, piece);
            if (!text || !send_text(text, piece)) return false;
            at += piece;
            n -= piece;
        }
        return true;
    }

private:
    const char *read(uint64_t at, std::size_t n) {
        std::size_t got = 0;
        while (got < n) {
            int64_t r = b_.read_at(buf_.get() + got, n - got, at + got);
            if (r <= 0) return nullptr;  // the file shrank: the body cannot go whole
            got += static_cast<std::size_t>(r);
        }
        return buf_.get();
    }
    // A file's kept text, unstuffed, takes the end-of-data line in place
    // (a text read ahead has room for it): the message is not copied.
    bool send_with_end(const char *text, std::size_t n) {
        std::string *out = &stuffed_;
        if (b_.stuff)
            dot_stuff(text, n, line_start_, stuffed_);
        else if (text == b_.kept.data() && n == b_.kept.size())
            out = &b_.kept;
        else
            stuffed_.assign(text, n);
        out->append("\r\n.\r\n");
        if (out == &b_.kept) b_.data = b_.kept.data();  // the text may have moved to make room
        if (t_.hold_end)
            t_.session.finals.held.append(*out);  // leaves with the next commands
        else if (t_.x.send_raw(out->data(), out->size()) == -1)
            return false;
        t_.end_sent = true;
        return true;
    }
    bool send_text(const char *text, std::size_t n) {
        if (!b_.stuff) return t_.x.send_raw(text, n, true) != -1;  // the end-of-data line follows at once
        dot_stuff(text, n, line_start_, stuffed_);
        return t_.x.send_raw(stuffed_.data(), stuffed_.size(), true) != -1;
    }

    Transaction &t_;
    MessageBody &b_;
    std::unique_ptr<char[]> buf_;
    std::string stuffed_;
    bool line_start_ = true;
};

// A file sent as it was read block by block (too large to be kept whole)
// that is no longer the version that was opened: what went out may mix two
// versions (and its DKIM signature fail), so the end-of-data line must not
// follow.
bool changed_while_sent(const Transaction &t) {
    const MessageSource &s = t.msg.source;
    return !t.body.data && !s.block && s.current && !s.current();
}

bool transmit(Transaction &t, const std::string *field) {
    uint64_t length = t.body.size;
    int block = t.session.send_block_size();
    bool percent = t.opts.send_percent_sent != 0;
    BodySender sender(t);
    if (field && t.x.send_raw(field->data(), field->size(), true) == -1) return false;  // in the message's segments
    if (!(percent && block > 0 && length > static_cast<uint64_t>(block))) {
        if (!sender.send(0, length, length <= kKeptWhole)) return false;
        if (percent) t.session.report(Where::callback, 926, 0, texts::kPercentDone);
        return true;
    }
    for (uint64_t sent = 0; sent < length;) {
        uint64_t count = std::min<uint64_t>(static_cast<uint64_t>(block), length - sent);
        if (!sender.send(sent, count)) return false;
        sent += count;
        report_percent(t, sent, length);
    }
    return true;
}

}  // namespace

void send_body(Transaction &t) {
    const std::string *field = nullptr;
    if (!t.body.dkim_field.empty()) {
        std::string why;
        field = t.body.dkim_field.text(why);  // made while the envelope went
        if (!field) {
            t.fail(dkim::kKeyUnusable, format(texts::kMessageCannotSign, message_name(t).c_str(), why.c_str()));
            t.session.close_socket();  // the server waits for data that will not come
            return;
        }
    }
    if (transmit(t, field)) {
        if (!changed_while_sent(t)) return;
        t.fail(910, format(texts::kFileChangedWhileSent, t.msg.file.c_str()));
        t.session.close_socket();  // in the data phase: only a close ends it without the message
        return;
    }
    t.session.note_error(t.x.wsa_error());
    t.fail(904, texts::kDataNotWhole);
}

}  // namespace vellor::smtp
