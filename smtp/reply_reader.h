// The reply assembler: bytes received from the server go in as they come,
// in pieces of any size, and a reply comes out only when its last line is
// complete (a line ending in LF whose fourth character is not '-'), the
// start of that last line kept apart for its enhanced code. The
// first 511 bytes of a reply are kept for judging (and a margin more, see
// keep_more); the rest is read and
// dropped so the next reply starts in step. Bytes after a reply's end wait
// for the next one. A line longer than 1 KiB is judged by its start and not
// held whole, so a server that never ends a line cannot grow memory beyond
// that. Pure text work: no I/O.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace vellor::smtp {

class ReplyReader {
public:
    static constexpr std::size_t kKept = 511;
    static constexpr std::size_t kFull = 4096;

    // Takes bytes; returns true when a whole reply is ready in text().
    bool feed(const char *data, std::size_t n);
    // True when a whole reply is already waiting in the bytes held.
    bool ready() { return take_reply(); }
    bool complete() const { return complete_; }
    // The reply's first bytes (at most 511), valid once complete().
    const std::string &text() const { return text_; }
    // The reply's first 4 KiB, for reading the lines of a long reply (EHLO).
    const std::string &full() const { return full_; }
    // The first kHead bytes of the reply's last line, however long the reply
    // (its code, and the enhanced code after it, are read there).
    const std::string &last_line_head() const { return last_head_; }
    static constexpr std::size_t kHead = 24;
    std::size_t length() const { return length_; }
    // Keeps `margin` bytes more than kKept and kFull of the replies from now
    // on: room for a credential quoted across the cut to be masked whole
    // before the text is cut (support/secret_mask.h).
    void keep_more(std::size_t margin) { margin_ = margin; }
    // Forgets the judged reply; bytes beyond it stay for the next one.
    void next();
    // Forgets everything, held bytes included (a new connection).
    void clear();

private:
    bool take_reply();
    void keep(std::string_view line);

    std::string pending_;    // bytes not yet part of a finished line
    std::string long_head_;  // start of a line too long to hold whole
    std::string last_head_;  // start of the reply's last line
    std::string text_;
    std::string full_;
    std::size_t length_ = 0;
    std::size_t margin_ = 0;
    bool complete_ = false;
};

// True when the line (without its line end) continues the reply: "ddd-".
bool continues(std::string_view line);

}  // namespace vellor::smtp
