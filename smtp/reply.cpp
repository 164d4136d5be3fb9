// The parse of one whole reply into its code, separator, enhanced code and lines.
#include "smtp/reply.h"

#include <cctype>

namespace vellor::smtp {
namespace {

bool digit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// "c.d.e" with a class of 2, 4 or 5 and two numbers of one to three digits.
std::string enhanced_of(std::string_view rest) {
    std::size_t end = rest.find_first_of(" \r\n");
    std::string_view word = rest.substr(0, end);
    if (word.size() < 5 || (word[0] != '2' && word[0] != '4' && word[0] != '5') || word[1] != '.') return {};
    std::size_t dot = word.find('.', 2);
    if (dot == std::string_view::npos || dot == 2 || dot > 5 || dot + 1 >= word.size() || word.size() - dot - 1 > 3)
        return {};
    for (std::size_t i = 2; i < word.size(); ++i)
        if (i != dot && !digit(word[i])) return {};
    return std::string(word);
}

}  // namespace

Reply parse_reply(std::string_view text, std::string_view full) {
    Reply r;
    r.text = std::string(text);
    if (text.size() >= 3 && digit(text[0]) && digit(text[1]) && digit(text[2]))
        r.code = (text[0] - '0') * 100 + (text[1] - '0') * 10 + (text[2] - '0');
    r.separator = text.size() > 3 ? text[3] : '\0';
    if (r.code != 0 && (r.separator == ' ' || r.separator == '-')) r.enhanced = enhanced_of(text.substr(4));
    for (std::size_t at = 0; at < full.size();) {
        std::size_t end = full.find('\n', at);
        std::string_view line = full.substr(at, end == std::string_view::npos ? end : end - at);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        r.lines.emplace_back(line.size() > 4 ? line.substr(4) : std::string_view());
        if (end == std::string_view::npos) break;
        at = end + 1;
    }
    return r;
}

}  // namespace vellor::smtp
