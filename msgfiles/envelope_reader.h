// The envelope file reader: CR LF lines read in pieces of at most 255
// characters (a longer line is read as several pieces); a piece is cut at
// its first CR LF and at a NUL. An empty piece or the end of the file ends
// the envelope. Pure text work over a byte source, no record access.
#pragma once
#include <functional>
#include <string>

namespace vellor::envelope {

enum class LineKind { MailFrom, RcptTo, Other };

struct Line {
    LineKind kind;
    std::string address;  // for MailFrom / RcptTo, cut to 255 characters
};

// Splits the envelope text into pieces and classifies each until the end.
// Calls on_line for every piece before the end; on_line returns false to
// stop reading.
void read_envelope(const std::string &bytes, const std::function<bool(const Line &)> &on_line);

// Classifies one piece. A MAIL FROM line gives the text from its 13th
// character up to its last '>' (or its end); a RCPT TO line from its 11th.
// A line too short for that gives an empty address.
Line classify(const std::string &piece);

}  // namespace vellor::envelope
