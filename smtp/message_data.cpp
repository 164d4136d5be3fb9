// The message body: the source check at the start of a transaction, the body
// from hMessage (used in place) or from the message file (loaded into a new
// global-memory block of its size plus one zero byte, freed after sending),
// sent up to its first NUL exactly as stored: no dot-stuffing, no line-end
// conversion. With the SendPercentSent option on it goes out in blocks of
// the session's nSendBlockSize with percent reports (status 926).
// Decisions of this library: an hMessage that cannot be locked fails the
// transaction without a code, like a message file that cannot be loaded; a
// send block size of 0 or less sends the body in one piece.
#include <cstring>

#include "platform/files.h"
#include "platform/winsock.h"
#include "smtp/transaction.h"
#include "support/options.h"
#include "support/text.h"

namespace vellor {

// A new, unlocked block holding the file's text and at least one NUL. The
// file is read straight into the block; a large block is backed by huge
// pages (see global memory), which keeps its page faults few.
HGLOBAL Load_Message_File(const std::string &name, std::size_t extra) {
    int64_t size = 0;
    if (!files::file_size(name, size) || size < 0) return nullptr;
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, static_cast<std::size_t>(size) + extra + 1);
    if (!h) return nullptr;
    void *p = GlobalLock(h);
    if (!p) {
        GlobalFree(h);
        return nullptr;
    }
    int fd = files::open_read(name);
    if (fd < 0) {
        GlobalUnlock(h);
        GlobalFree(h);
        return nullptr;
    }
    std::size_t got = 0;
    files::read_all(fd, p, static_cast<std::size_t>(size), got);
    files::close(fd);
    GlobalUnlock(h);
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

namespace {

void report_percent(Transaction &t, std::size_t sent, std::size_t length) {
    float pct = static_cast<float>(sent) / static_cast<float>(length) * 100.0f;
    if (!(pct > 1.0f)) return;
    if (pct > 100.0f) pct = 100.0f;
    t.call.status(926, 0, format("%ld", static_cast<long>(pct)));
}

void send_in_blocks(Transaction &t, const char *body, std::size_t length, std::size_t block) {
    std::size_t sent = 0;
    while (sent < length) {
        std::size_t count = std::min(block, length - sent);
        int n = t.x.send_raw(body + sent, count, sent + count == length);
        if (n <= 0) {  // a send that moves nothing would never finish
            t.failed = true;
            return;
        }
        sent += static_cast<std::size_t>(n);
        report_percent(t, sent, length);
    }
}

void transmit(Transaction &t, const char *body, std::size_t length) {
    int block = t.session()->nSendBlockSize;
    bool percent = options::send_percent_sent() != 0;
    if (percent && block > 0 && length > static_cast<std::size_t>(block)) {
        send_in_blocks(t, body, length, static_cast<std::size_t>(block));
        return;
    }
    int n = t.x.send_raw(body, length, true);  // the end-of-data line follows at once
    if (n == -1) t.failed = true;
    else if (percent && static_cast<std::size_t>(n) == length) t.call.status(926, 0, "100");
}

}  // namespace

void send_body(Transaction &t) {
    SMTPSEND_STRUCTURE *r = t.req();
    HGLOBAL loaded = nullptr;
    HGLOBAL source = r->hMessage;
    if (!source) source = loaded = Load_Message_File(fs(r->szMessageFile), 0);
    const char *body = source ? static_cast<const char *>(GlobalLock(source)) : nullptr;
    if (!body) {
        t.failed = true;
        if (loaded) GlobalFree(loaded);
        return;
    }
    transmit(t, body, ::strnlen(body, GlobalSize(source)));
    GlobalUnlock(source);
    if (loaded) GlobalFree(loaded);
}

}  // namespace smtp
}  // namespace vellor
