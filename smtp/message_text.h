// Checks and the one transformation of a message's text before it goes out
// between DATA and the end-of-data line, over the text in pieces of any
// size (a file is read in blocks). Pure text work: no I/O.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace vellor::smtp {

// Finds the first line that is a single "." (ended by LF, CR LF or the end
// of the text). Sent as stored, such a line would end the data early and
// the text after it would reach the server as commands.
class LoneDotFinder {
public:
    // Feeds the next piece; true once such a line was found.
    bool feed(const char *text, std::size_t n);
    // The end of the text: a last line of just "." counts too.
    bool finish();
    bool found() const { return found_; }
    uint64_t offset() const { return dot_at_; }  // of the "." when found

private:
    enum State { Inside, LineStart, Dot, DotCr } state_ = LineStart;
    bool found_ = false;
    uint64_t seen_ = 0, dot_at_ = 0;
};

// Whether the text holds a byte of 8 bits (BODY=8BITMIME).
bool holds_8bit(const char *text, std::size_t n);

// One more "." in front of every line that begins with "."; `line_start`
// carries whether the next piece begins a line.
void dot_stuff(const char *text, std::size_t n, bool &line_start, std::string &out);

}  // namespace vellor::smtp
