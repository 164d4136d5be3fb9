// Fuzzes the lone-dot search against a plain reading of the whole text: the
// input is fed in pieces of the size its first byte gives, and the search
// must find the same first line of a single "." (ended by LF, CR LF or the
// text's end) at the same offset. Dot-stuffing the text, fed in the same
// pieces, must leave no such line and give the text back once unstuffed.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "smtp/message_text.h"

namespace {

constexpr std::size_t kNone = std::string_view::npos;

std::size_t first_lone_dot(std::string_view t) {
    for (std::size_t start = 0; start < t.size();) {
        std::string_view rest = t.substr(start + 1);
        if (t[start] == '.' && (rest.empty() || rest[0] == '\n' || rest.starts_with("\r\n"))) return start;
        std::size_t nl = t.find('\n', start);
        if (nl == kNone) break;
        start = nl + 1;
    }
    return kNone;
}

std::string unstuffed(std::string_view t) {
    std::string out;
    for (std::size_t start = 0; start < t.size();) {
        std::size_t nl = t.find('\n', start), end = nl == kNone ? t.size() : nl + 1;
        std::string_view line = t.substr(start, end - start);
        out.append(line.starts_with(".") ? line.substr(1) : line);
        start = end;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    std::size_t step = 1 + data[0] % 64;
    std::string_view text(reinterpret_cast<const char *>(data) + 1, size - 1);
    vellor::smtp::LoneDotFinder finder;
    std::string stuffed, piece;
    bool line_start = true;
    for (std::size_t at = 0; at < text.size(); at += step) {
        std::string_view part = text.substr(at, step);
        finder.feed(part.data(), part.size());
        vellor::smtp::dot_stuff(part.data(), part.size(), line_start, piece);
        stuffed += piece;
    }
    std::size_t expected = first_lone_dot(text);
    if (finder.finish() != (expected != kNone)) std::abort();
    if (expected != kNone && finder.offset() != expected) std::abort();
    if (first_lone_dot(stuffed) != kNone || unstuffed(stuffed) != text) std::abort();
    return 0;
}
