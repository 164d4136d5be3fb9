// The part of directory searches every platform shares: the matching names
// kept in one buffer, put in name order without regard to case (names equal
// but for case in byte order), handed out one by one.
#include "platform/file_search.h"

#include <algorithm>
#include <cstring>

namespace vellor::files {
namespace {

// ASCII letters folded to lower case through a table: the sort of a large
// queue compares names millions of times.
struct Lower {
    unsigned char map[256];
    constexpr Lower() : map() {
        for (int c = 0; c < 256; ++c) map[c] = static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
};
constexpr Lower kLower;

int compare_nocase(const char *a, const char *b) {
    const auto *x = reinterpret_cast<const unsigned char *>(a), *y = reinterpret_cast<const unsigned char *>(b);
    for (;; ++x, ++y) {
        int d = kLower.map[*x] - kLower.map[*y];
        if (d != 0 || *x == 0) return d;
    }
}

}  // namespace

void Search::add(const char *name) {
    starts_.push_back(static_cast<uint32_t>(text_.size()));
    text_.append(name);
    text_.push_back('\0');
}

bool Search::finish() {
    const char *base = text_.data();
    std::sort(starts_.begin(), starts_.end(), [base](uint32_t a, uint32_t b) {
        int c = compare_nocase(base + a, base + b);
        return c != 0 ? c < 0 : std::strcmp(base + a, base + b) < 0;
    });
    return !starts_.empty();
}

bool Search::next() {
    if (pos_ + 1 >= starts_.size()) return false;
    ++pos_;
    return true;
}

int Search::count(const std::string &pattern) {
    Search s;
    s.collect(pattern);
    return static_cast<int>(s.starts_.size());
}

int count_matches(const std::string &pattern) { return Search::count(pattern); }

}  // namespace vellor::files
