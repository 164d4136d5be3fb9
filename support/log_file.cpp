// Log file lines: "YYYY/MM/DD  hh:mm:ss <text>\r\n", appended with one write
// per line (or, for a LogBatch, per batch of lines), the file opened and
// closed for every write. A text is first cut
// to the 1024-byte text buffer and then, so that the whole line with its
// stamp and CR LF fits the 1024-byte line buffer, to its first 1000
// characters. Trimming runs before the first line after loading and then
// before every 241st line (lines 1, 242, 483, ...). Relies on the options,
// the file stand-ins and the local time.
#include "support/log_file.h"

#include <cstring>

#include <algorithm>
#include <atomic>
#include <memory>

#include "platform/files.h"
#include "platform/local_time.h"
#include "platform/system_directory.h"
#include "support/options.h"

namespace vellor {
namespace {

constexpr std::size_t kLineBuffer = 1024;
constexpr std::size_t kStamp = 21;                // "YYYY/MM/DD  hh:mm:ss "
constexpr std::size_t kStampAndEnd = kStamp + 2;  // and CR LF
constexpr std::size_t kMaxText = kLineBuffer - 1 - kStampAndEnd;
constexpr long long kMiB = 1048576;

std::atomic<int> g_counter{0};
constexpr std::size_t kHeld = std::size_t{64} * 1024;
const options::RequestValues kNone;  // a line outside any send

std::string path_of(const options::LogOptions &o) {
    return o.file.empty() ? platform::system_directory() + files::kSeparator + "vellorlog.txt" : o.file;
}

// Appends whole lines to the log the options name, when the log is on.
void append(const std::string &lines, const options::LogOptions &o) {
    if (lines.empty() || o.use == 0) return;
    int fd = files::open_append_create(path_of(o));
    if (fd < 0) return;
    // The file is open for appending: the lines go to its end in one write.
    files::write_all(fd, lines.data(), lines.size());
    files::close(fd);
}

void trim(const std::string &path, const options::LogOptions &o);

}  // namespace

void LogBatch::flush() {
    if (lines_.empty()) return;
    std::string lines;
    lines.swap(lines_);
    append(lines, options::log_options(own_));
}

LogBatch::~LogBatch() {
    try {
        flush();
    } catch (...) {  // out of memory while unwinding: the lines are lost, as any failed log write
    }
}

int log_line_counter() { return g_counter.load(std::memory_order_relaxed); }
void set_log_line_counter(int value) { g_counter.store(value, std::memory_order_relaxed); }

std::string log_file_path(const options::RequestValues &own) {
    options::LogOptions o;
    o.file = options::log_file(own);
    return path_of(o);
}

namespace {

constexpr std::size_t kTrimChunk = std::size_t{64} * 1024;

// The offset just past the first line end at or after `from` (whole lines
// are kept), or -1.
int64_t first_whole_line(int fd, int64_t from, int64_t size, char *buf) {
    for (int64_t at = from; at < size;) {
        int64_t got = files::read_at(fd, buf, kTrimChunk, at);
        if (got <= 0) return -1;
        if (const void *nl = std::memchr(buf, '\n', static_cast<std::size_t>(got)))
            return at + (static_cast<const char *>(nl) - buf) + 1;
        at += got;
    }
    return size;
}

}  // namespace

// The newest whole lines of at most "logfilemin" MiB are moved to the start
// of the file in 64 KiB pieces and the rest is cut off, so trimming costs
// the same small memory whatever the limits.
void Trim_Log(const std::string &path) { trim(path, options::log_options(kNone)); }

namespace {

void trim(const std::string &path, const options::LogOptions &o) {
    int64_t size = 0;
    if (!files::file_size(path, size)) return;
    long long max = o.max;
    if (max < 5) max = 10;
    if (size <= max * kMiB) return;
    long long min = o.min;
    if (min < 1) min = 2;
    int64_t keep = static_cast<int64_t>(min * kMiB);
    int64_t from = size > keep ? static_cast<int64_t>(size) - keep : 0;
    std::unique_ptr<char[]> buf(new (std::nothrow) char[kTrimChunk]);
    int fd = buf ? files::open_read_write(path) : -1;
    if (fd < 0) return;
    int64_t start = first_whole_line(fd, from, static_cast<int64_t>(size), buf.get());
    int64_t written = 0;
    for (int64_t at = start; start >= 0 && at < size;) {
        int64_t got = files::read_at(fd, buf.get(), kTrimChunk, at);
        if (got <= 0 || !files::write_at(fd, buf.get(), static_cast<std::size_t>(got), written)) break;
        at += got;
        written += got;
    }
    bool cut = start >= 0 && files::truncate(fd, written);  // trimming is best effort, like every log write
    (void)cut;
    files::close(fd);
}

}  // namespace

namespace {

void put_digits(char *at, int value, int width) {
    for (int i = width - 1; i >= 0; --i, value /= 10) at[i] = static_cast<char>('0' + value % 10);
}

// "YYYY/MM/DD  hh:mm:ss " written by hand: a log line is made for every
// step of every message, and a formatting call costs more than the rest.
void put_stamp(char *at, const platform::LocalTime &t) {
    std::memcpy(at, "0000/00/00  00:00:00 ", kStamp);
    put_digits(at, t.year, 4);
    put_digits(at + 5, t.month, 2);
    put_digits(at + 8, t.day, 2);
    put_digits(at + 12, t.hour, 2);
    put_digits(at + 15, t.minute, 2);
    put_digits(at + 18, t.second, 2);
}

// Every few hundred lines (and before the first) the log's size is
// checked: true when it is due now.
bool trim_due() {
    int counter = g_counter.load(std::memory_order_relaxed);
    if (counter >= 10 && counter <= 250) {
        g_counter.store(counter + 1, std::memory_order_relaxed);
        return false;
    }
    g_counter.store(11, std::memory_order_relaxed);
    return true;
}

void trim_now(const options::LogOptions &o) {
    if (o.use != 0) trim(path_of(o), o);
}

// The text with its stamp and line end: the text ends at its first NUL, and
// at kMaxText characters.
void put_line(std::string &out, const std::string &text) {
    std::size_t length = ::strnlen(text.c_str(), std::min(text.size(), kMaxText));
    platform::LocalTime t = platform::local_time();
    char stamp[kStamp];
    put_stamp(stamp, t);
    out.append(stamp, kStamp).append(text.data(), length).append("\r\n", 2);
}

}  // namespace

void Write_Log(const std::string &text) {
    if (options::use_log_file(kNone) == 0) return;
    if (trim_due()) trim_now(options::log_options(kNone));
    std::string own;
    put_line(own, text);
    append(own, options::log_options(kNone));
}

void LogBatch::write(const std::string &text) {
    if (trim_due()) {
        options::LogOptions o = options::log_options(own_);  // one reading for the flush and the size check
        std::string lines;
        lines.swap(lines_);
        append(lines, o);  // the lines before the trim go first
        trim_now(o);
    }
    put_line(lines_, text);
    if (lines_.size() >= kHeld) flush();
}

}  // namespace vellor
