// The envelope file reader: lines read whole through their line feed (an
// address is never cut; the caller refuses one that does not fit its
// field); a line ends at its first CR LF and at a NUL. An empty piece or the end of the file ends
// the envelope. Pure text work over a byte source, no record access.
#pragma once
#include <functional>
#include <string>

namespace vellor::envelope {

enum class LineKind { MailFrom, RcptTo, Other };

struct Line {
    LineKind kind;
    std::string address;  // for MailFrom / RcptTo, whole
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
