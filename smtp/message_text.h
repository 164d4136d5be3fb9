// Checks and the one transformation of a message's text before it goes out
// between DATA and the end-of-data line. Pure text work: no I/O.
#pragma once
#include <cstddef>
#include <string>

namespace vellor::smtp {

// The offset of the first line that is a single "." (ended by LF, CR LF or
// the end of the text), or npos. Sent as stored, such a line would end the
// data early and the text after it would reach the server as commands.
std::size_t lone_dot_line(const char *text, std::size_t n);

// The text with one more "." in front of every line that begins with ".".
std::string dot_stuffed(const char *text, std::size_t n);

}  // namespace vellor::smtp
