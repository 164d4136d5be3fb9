// Envelope lines: MAIL FROM and RCPT TO recognised in any letter case,
// anywhere in the line.
#include "msgfiles/envelope_reader.h"

#include "support/text.h"

namespace vellor::envelope {
namespace {

std::string address_from(const std::string &line, std::size_t start) {
    if (line.size() <= start) return {};
    std::size_t end = line.rfind('>');
    if (end == std::string::npos || end < start) end = line.size();
    return line.substr(start, end - start);  // whole: the caller refuses what does not fit
}

}  // namespace

Line classify(const std::string &piece) {
    if (find_text_nocase(piece, "MAIL FROM: ") != std::string::npos)
        return {LineKind::MailFrom, address_from(piece, 12)};
    if (find_text_nocase(piece, "RCPT TO: ") != std::string::npos) return {LineKind::RcptTo, address_from(piece, 10)};
    return {LineKind::Other, {}};
}

void read_envelope(const std::string &bytes, const std::function<bool(const Line &)> &on_line) {
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        // One line, through its line feed, however long: an address is never cut.
        std::size_t lf = bytes.find('\n', pos);
        std::size_t end = lf == std::string::npos ? bytes.size() : lf + 1;
        std::string piece = bytes.substr(pos, end - pos);
        pos = end;
        piece = piece.substr(0, piece.find('\0'));
        std::size_t crlf = piece.find("\r\n");
        if (crlf != std::string::npos) piece.resize(crlf);
        if (piece.empty()) return;
        if (!on_line(classify(piece))) return;
    }
}

}  // namespace vellor::envelope
