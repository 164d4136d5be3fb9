// The message body: the source check at the start of a transaction, the body
// from hMessage (used in place) or from the message file (loaded into a new
// global-memory block of its size plus one zero byte, freed after sending),
// sent up to its first NUL exactly as stored: no dot-stuffing, no line-end
// conversion. With the SendPercentSent option on it goes out in blocks of
// the session's nSendBlockSize with percent reports (status 926).
//
// The body is prepared before MAIL FROM, so a message that cannot go out
// whole is refused before the server hears of it, and its file stays:
//  - a message file is opened only when it is a regular file (a queue entry
//    also not through a symbolic link), and never waits on a FIFO;
//  - a message file holding a NUL byte would be cut there: refused;
//  - a line of a single "." would end the data early: refused, unless the
//    DotStuffing option is on, which sends every line that begins with "."
//    with one more "." in front.
// A body is sent whole or the transaction fails without the end-of-data
// line. Decisions of this library: an hMessage that cannot be locked fails
// the transaction without a code; a send block size of 0 or less sends the
// body in one piece.
#include <cstring>

#include "platform/files.h"
#include "platform/winsock.h"
#include "smtp/message_text.h"
#include "smtp/transaction.h"
#include "support/options.h"
#include "support/text.h"

namespace vellor {

// A new, unlocked block holding the file's text and at least one NUL, or
// nullptr when the path is not a regular file or cannot be read whole. The
// file is read straight into the block; a large block is backed by huge
// pages (see global memory), which keeps its page faults few.
HGLOBAL Load_Message_File(const std::string &name, std::size_t extra, bool no_links, std::size_t *length) {
    int64_t size = 0;
    int fd = files::open_regular(name, no_links, size);
    if (fd < 0) return nullptr;
    HGLOBAL h = size >= 0 ? GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, static_cast<std::size_t>(size) + extra + 1) : nullptr;
    void *p = h ? GlobalLock(h) : nullptr;
    std::size_t got = 0;
    bool whole = p && files::read_all(fd, p, static_cast<std::size_t>(size), got) && got == static_cast<std::size_t>(size);
    files::close(fd);
    if (p) GlobalUnlock(h);
    if (!whole) {
        if (h) GlobalFree(h);
        return nullptr;
    }
    if (length) *length = got;
    return h;
}

namespace smtp {

bool check_message_source(Transaction &t) {
    SMTPSEND_STRUCTURE *r = t.req();
    if (empty(r->szMessageFile) && !r->hMessage) {
        t.call.both(920, 910,
                    t.relay() ? "Mo mail message file name or global memory buffer received for sending!"
                              : "No mail message file name or global memory buffer received for sending!");
        r->nErrorCode = 910;
        return false;
    }
    if (!empty(r->szMessageFile) && !files::exists(fs(r->szMessageFile))) {
        t.call.both(920, 910, format("Specified mail message of [%s] cannot be found", fs(r->szMessageFile).c_str()));
        r->nErrorCode = 910;
        return false;
    }
    return true;
}

MessageBody::~MessageBody() {
    if (source_) GlobalUnlock(source_);
    if (loaded_) GlobalFree(loaded_);
}

namespace {

// Locks the source: hMessage up to its first NUL, else the whole file.
bool lock_source(Transaction &t, MessageBody &b) {
    SMTPSEND_STRUCTURE *r = t.req();
    std::size_t file_length = 0;
    HGLOBAL source = r->hMessage;
    if (!source) {
        source = b.loaded_ = Load_Message_File(fs(r->szMessageFile), 0, r->bMessageDirectory != 0, &file_length);
        if (!source) {
            t.fail(910, format("Message file [%s] is not a regular file that can be read: not sent",
                               fs(r->szMessageFile).c_str()));
            return false;
        }
    }
    b.data = source ? static_cast<const char *>(GlobalLock(source)) : nullptr;
    if (!b.data) {
        t.failed = true;
        return false;
    }
    b.source_ = source;
    b.size = ::strnlen(b.data, GlobalSize(source));
    if (b.loaded_ && b.size < file_length) {
        t.fail(910, format("Message file [%s] holds a NUL byte at offset %zu and would be cut there: not sent",
                           fs(r->szMessageFile).c_str(), b.size));
        return false;
    }
    return true;
}

}  // namespace

bool prepare_body(Transaction &t) {
    MessageBody &b = t.body;
    if (!lock_source(t, b)) return false;
    std::size_t dot = lone_dot_line(b.data, b.size);
    if (dot == std::string::npos) return true;
    if (options::dot_stuffing() != 0) {
        b.stuffed_ = dot_stuffed(b.data, b.size);
        b.data = b.stuffed_.data();
        b.size = b.stuffed_.size();
        return true;
    }
    std::string name = t.req()->hMessage ? std::string("in global memory") : "[" + fs(t.req()->szMessageFile) + "]";
    t.fail(910, format("Message %s holds a line of a single \".\" at offset %zu, which would end the data early: "
                       "not sent (the DotStuffing option sends it stuffed)", name.c_str(), dot));
    return false;
}

namespace {

void report_percent(Transaction &t, std::size_t sent, std::size_t length) {
    float pct = static_cast<float>(sent) / static_cast<float>(length) * 100.0f;
    if (!(pct > 1.0f)) return;
    if (pct > 100.0f) pct = 100.0f;
    t.call.status(926, 0, format("%ld", static_cast<long>(pct)));
}

bool send_in_blocks(Transaction &t, const char *body, std::size_t length, std::size_t block) {
    for (std::size_t sent = 0; sent < length;) {
        std::size_t count = std::min(block, length - sent);
        if (t.x.send_raw(body + sent, count, sent + count == length) == -1) return false;
        sent += count;
        report_percent(t, sent, length);
    }
    return true;
}

bool transmit(Transaction &t, const char *body, std::size_t length) {
    int block = t.session()->nSendBlockSize;
    bool percent = options::send_percent_sent() != 0;
    if (percent && block > 0 && length > static_cast<std::size_t>(block))
        return send_in_blocks(t, body, length, static_cast<std::size_t>(block));
    if (t.x.send_raw(body, length, true) == -1) return false;  // the end-of-data line follows at once
    if (percent) t.call.status(926, 0, "100");
    return true;
}

}  // namespace

void send_body(Transaction &t) {
    if (transmit(t, t.body.data, t.body.size)) return;
    t.session()->nLastError = static_cast<int16_t>(t.x.wsa_error());
    t.fail(904, "Message data could not be sent whole: the transaction ends without the end-of-data line...");
}

}  // namespace smtp
}  // namespace vellor
