// The parse of one whole reply into its code, separator, enhanced code and lines.
#include "smtp/reply.h"

#include <cctype>

namespace vellor::smtp {
namespace {

bool digit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

int code_of(std::string_view line) {
    if (line.size() < 3 || !digit(line[0]) || !digit(line[1]) || !digit(line[2])) return 0;
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

// "c.d.e" after the code and a blank on the last line: a class of 2, 4 or
// 5 that is the code's own, and two numbers of one to three digits.
std::string enhanced_of(int code, std::string_view last) {
    if (code == 0 || code_of(last) != code || last.size() < 4 || last[3] != ' ') return {};
    std::string_view rest = last.substr(4);
    std::string_view word = rest.substr(0, rest.find_first_of(" \r\n"));
    const char cls = static_cast<char>('0' + code / 100);
    if (word.size() < 5 || word[0] != cls || (cls != '2' && cls != '4' && cls != '5') || word[1] != '.') return {};
    std::size_t dot = word.find('.', 2);
    if (dot == std::string_view::npos || dot == 2 || dot > 5 || dot + 1 >= word.size() || word.size() - dot - 1 > 3)
        return {};
    for (std::size_t i = 2; i < word.size(); ++i)
        if (i != dot && !digit(word[i])) return {};
    return std::string(word);
}

}  // namespace

Reply parse_reply(std::string_view text, std::string_view full, std::string_view last) {
    Reply r;
    r.text = std::string(text);
    r.code = code_of(text);
    r.separator = text.size() > 3 ? text[3] : '\0';
    r.enhanced = enhanced_of(r.code, last);
    for (std::size_t at = 0; at < full.size();) {
        std::size_t end = full.find('\n', at);
        std::string_view line = full.substr(at, end == std::string_view::npos ? end : end - at);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        r.lines.push_back({line.size() > 3 ? line[3] : '\0', std::string(line.size() > 4 ? line.substr(4) : "")});
        if (end == std::string_view::npos) break;
        at = end + 1;
    }
    return r;
}

bool limits_connections(const Reply &r) {
    return r.code == 421 || r.enhanced.rfind("4.7.", 0) == 0 || r.enhanced == "4.3.2";
}

}  // namespace vellor::smtp
