// A text pattern filled with values: each "%s" of the pattern replaced by the
// next value in order, never cut (printf-style formatting cuts at its
// buffer). The report texts of the catalogues (support/report_texts.def,
// transport/transport_texts.def, platform/platform_texts.def) that quote a
// value are such patterns; a number is handed in as its decimal text.
// Header-only, relying on the standard library alone, so every layer of the
// library fills its texts the same way.
#pragma once
#include <initializer_list>
#include <string>
#include <string_view>

namespace vellor {

inline std::string fill(std::string_view pattern, std::initializer_list<std::string_view> values) {
    std::string out;
    auto value = values.begin();
    for (std::size_t at = 0;;) {
        std::size_t mark = pattern.find("%s", at);
        if (mark == std::string_view::npos || value == values.end()) return out.append(pattern.substr(at));
        out.append(pattern.substr(at, mark - at)).append(*value++);
        at = mark + 2;
    }
}

}  // namespace vellor
