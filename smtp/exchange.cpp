// Command/reply exchange over the connection object.
#include "smtp/exchange.h"

#include "smtp/auth_encode.h"

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "smtp/reply_quirks.h"
#include "support/report_texts.h"

namespace vellor::smtp {

namespace {
// Every command's format holds only %s conversions, filled in here by hand
// (a formatting call costs more than the rest of a command); a format with
// any other conversion goes through vsnprintf. The length written, or 0
// when the command does not fit: a command is never cut.
std::size_t fill_format(char *out, std::size_t size, const char *fmt, va_list ap) {
    for (const char *p = fmt; (p = std::strchr(p, '%')) != nullptr; p += 2)
        if (p[1] != 's') {
            int n = std::vsnprintf(out, size, fmt, ap);
            return n > 0 && static_cast<std::size_t>(n) < size ? static_cast<std::size_t>(n) : 0;
        }
    std::size_t len = 0;
    bool fits = true;
    auto put = [&](const char *text, std::size_t n) {
        fits = fits && n < size - len;
        if (!fits) return;
        std::memcpy(out + len, text, n);
        len += n;
    };
    for (const char *p = fmt; *p != '\0';) {
        const char *conversion = std::strchr(p, '%');
        if (!conversion) {
            put(p, std::strlen(p));
            break;
        }
        put(p, static_cast<std::size_t>(conversion - p));
        const char *arg = va_arg(ap, const char *);
        put(arg, std::strlen(arg));
        p = conversion + 2;
    }
    out[len] = '\0';
    return fits ? len : 0;
}

// A formatted command holds CR or LF only in its closing line end.
bool one_line(const char *text, std::size_t len) {
    std::size_t body = len >= 2 && text[len - 2] == '\r' && text[len - 1] == '\n' ? len - 2 : len;
    return std::memchr(text, '\r', body) == nullptr && std::memchr(text, '\n', body) == nullptr;
}
}  // namespace

// Formats one command into the buffer and shows it; its length, or 0 (the
// error set) when an argument would break the line.
std::size_t Exchange::format_line(const char *fmt, va_list ap) {
    std::size_t len = fill_format(buf_, sizeof buf_, fmt, ap);
    bool secret = secret_;
    secret_ = false;
    mask_reply_ = secret;
    if (len == 0 || !one_line(buf_, len)) {
        wsa_error_ = transport::kInvalid;
        return 0;
    }
    if (dialogue) dialogue(0, secret ? std::string("****") : std::string(buf_, len >= 2 ? len - 2 : len));
    return len;
}

int Exchange::secret_line(const std::string &line, const std::string &shown) {
    if (!one_line(line.data(), line.size())) {
        wsa_error_ = transport::kInvalid;
        return -1;
    }
    if (dialogue) dialogue(0, shown);
    mask_reply_ = true;
    std::string whole = line + "\r\n";
    return send_raw(whole.data(), whole.size());
}

int Exchange::command(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::size_t len = format_line(fmt, ap);
    va_end(ap);
    return len ? send_raw(buf_, len) : -1;
}

bool Exchange::queue(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::size_t len = format_line(fmt, ap);
    va_end(ap);
    if (len)
        queued_.append(buf_, len);
    else
        queued_.clear();
    return len != 0;
}

int Exchange::flush() {
    std::string out;
    out.swap(queued_);
    return send_raw(out.data(), out.size());
}

int Exchange::control(const char *line) {
    std::size_t len = std::strlen(line);
    if (dialogue) {
        std::string shown(line, len);
        while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r')) shown.pop_back();
        while (!shown.empty() && (shown.front() == '\n' || shown.front() == '\r')) shown.erase(0, 1);
        dialogue(0, shown);
    }
    return send_raw(line, len);
}

int Exchange::send_raw(const char *data, std::size_t len, bool more) {
    std::size_t sent = 0;
    while (sent < len) {
        // A send reports its count as an int: never ask for more than one
        // can say, or a count clipped after all went would send the tail twice.
        std::size_t piece = std::min<std::size_t>(len - sent, INT_MAX);
        int n = connection_.send(data + sent, piece, more || piece < len - sent);
        if (n <= 0) {  // a time-out, a reset, or a send that moves nothing
            wsa_error_ = n == -1 ? connection_.last_error() : transport::kTimedOut;
            broken_ = true;
            return -1;
        }
        sent += std::min(static_cast<std::size_t>(n), piece);
    }
    return len > INT_MAX ? INT_MAX : static_cast<int>(len);
}

Exchange::Exchange(transport::Connection &connection, Secrets &secrets) : connection_(connection), secrets_(secrets) {
    buf_[0] = '\0';
}

int Exchange::read_reply() {
    int n = read_reply_by(connection_.step_deadline(), true);
    if (on_kept) stale = n <= 0 || reply_.code == 421;
    on_kept = false;
    return n;
}

int Exchange::read_reply_by(Deadline deadline, bool first) {
    std::memset(buf_, 0, sizeof buf_);
    reply_ = Reply{};
    // A credential in Base64 inside a challenge, quoted past the cut, is
    // still whole in what is kept (4 characters for 3 bytes, and the group).
    reader_.keep_more(2 * secrets_.longest() + 8);
    reader_.next();
    bool masked = mask_reply_;
    mask_reply_ = false;
    char chunk[4096];
    while (!reader_.ready()) {
        int n = connection_.receive(chunk, sizeof chunk, deadline, first);
        first = false;
        if (n <= 0) {
            if (n == -1) wsa_error_ = connection_.last_error();
            broken_ = true;
            note(n == 0 ? texts::kPeerClosed : texts::kNoWholeReply);
            return n;
        }
        reader_.feed(chunk, static_cast<std::size_t>(n));
    }
    std::string text = secrets_.shown(reader_.text(), ReplyReader::kKept);
    std::memcpy(buf_, text.data(), text.size());
    full_ = secrets_.shown(reader_.full(), ReplyReader::kFull);
    reply_ = parse_reply(std::string_view(buf_, ::strnlen(buf_, sizeof buf_)), full_, reader_.last_line_head());
    if (dialogue) dialogue(std::atoi(buf_), masked ? std::string(buf_, 3) + " ****" : full_);
    return static_cast<int>(reader_.length());
}

DataWait Exchange::wait_for_data_reply() {
    Deadline deadline = connection_.step_deadline();
    for (int received = 0; received < kDataWaitReceives;) {
        int n = read_reply_by(deadline, received == 0);
        ++received;
        if (n == 0) return DataWait::Closed;
        if (n < 0) return DataWait::GaveUp;
        if (reply_.code == 550) return DataWait::Refused;
        if (data_ready(reply_)) return DataWait::Ready;
    }
    return DataWait::GaveUp;
}

std::string Exchange::first_line() const {
    std::string line(buf_, ::strnlen(buf_, sizeof buf_));
    return line.substr(0, line.find_first_of("\r\n"));
}

std::string Exchange::challenge() const {
    const std::string &whole = reader_.full();
    std::string line = whole.substr(0, whole.find_first_of("\r\n"));
    return secrets_.shown(base64_text(line.size() > 4 ? line.substr(4) : std::string()));
}

}  // namespace vellor::smtp
