// One server reply, parsed once when the reply reader has it whole: its
// three-digit code, the character after the code on its first line, the
// enhanced status code (RFC 3463) when the last line carries one after its
// code, and the text of each line after its code. The session decides on `code`; the few
// classic judgements that read more than the code are named in
// smtp/reply_quirks.h. Pure text work: no I/O.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace vellor::smtp {

// One line of a reply, without its line end.
struct ReplyLine {
    char separator = 0;  // the character after its code (' ', '-', or what came instead); 0: none
    std::string text;    // what follows the code and separator
};

struct Reply {
    int code = 0;                  // 0: no reply, or a first line not starting with three digits
    char separator = 0;            // ' ' (the last line), '-' (more follow), or what came instead
    std::string enhanced;          // "2.1.0" (its class the code's first digit), or empty
    std::vector<ReplyLine> lines;  // the lines of its first 4 KiB, credentials masked
    std::string text;              // the reply's kept first bytes (at most 511), credentials masked
};

// A reply by which a server limits its connections (a provider's limits):
// 421, or an enhanced code 4.7.x (policy, rate) or 4.3.2 (not accepting
// messages now).
bool limits_connections(const Reply &r);

// Parses `text` (the kept first bytes), `full` (the first 4 KiB, for the
// lines) and `last` (the start of the last line, for the enhanced code) of
// one whole reply.
Reply parse_reply(std::string_view text, std::string_view full, std::string_view last);

}  // namespace vellor::smtp
