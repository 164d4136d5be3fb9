// The delivery status notification values; see dsn_values.h.
#include "support/dsn_values.h"

#include "support/text.h"

namespace vellor::dsn {

std::optional<std::string> notify_value(const std::string &text) {
    std::string v = upper(text);
    if (v == "NEVER") return v;
    std::string seen;
    for (std::size_t at = 0; at <= v.size();) {
        std::size_t comma = std::min(v.find(',', at), v.size());
        std::string word = v.substr(at, comma - at);
        if ((word != "SUCCESS" && word != "FAILURE" && word != "DELAY") || seen.find(word) != std::string::npos)
            return std::nullopt;
        seen += word + ",";
        at = comma + 1;
    }
    return v;
}

std::optional<std::string> return_value(const std::string &text) {
    std::string v = upper(text);
    if (v == "FULL" || v == "HDRS") return v;
    return std::nullopt;
}

std::optional<std::string> envelope_id(const std::string &text) {
    for (unsigned char c : text)
        if (c < 0x20 || c > 0x7e) return std::nullopt;
    if (text.empty() || xtext(text).size() > 100) return std::nullopt;
    return text;
}

std::string xtext(std::string_view text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (c >= '!' && c <= '~' && c != '+' && c != '=') {
            out += static_cast<char>(c);
            continue;
        }
        out += '+';
        out += hex[c >> 4];
        out += hex[c & 15];
    }
    return out;
}

}  // namespace vellor::dsn
