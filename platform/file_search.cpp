// The part of directory searches every platform shares: the matching names
// put in name order without regard to case (names equal but for case in
// byte order) and handed out one by one from a bounded window.
#include "platform/file_search.h"

#include <algorithm>
#include <cstring>

namespace vellor::files {
namespace {

// ASCII letters folded to lower case through a table: the ordering of a
// large queue compares names millions of times.
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

bool before(const char *a, const char *b) {
    int c = compare_nocase(a, b);
    return c != 0 ? c < 0 : std::strcmp(a, b) < 0;
}

bool by_name(const std::string &a, const std::string &b) { return before(a.c_str(), b.c_str()); }

// Keeps the `limit` first names of `names` (in no particular order).
void keep_first(std::vector<std::string> &names, std::size_t limit) {
    std::nth_element(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(limit), names.end(), by_name);
    names.resize(limit);
}

}  // namespace

bool Search::first(const std::string &pattern) {
    close();
    pattern_ = pattern;
    return fill();
}

bool Search::fill() {
    const bool resume = !window_.empty();
    const std::string after = resume ? window_.back() : std::string();
    std::vector<std::string> names;
    names.reserve(2 * kWindow);  // never grown by copying
    bool cut = false;
    for_each_match(pattern_, [&](const char *name) {
        if (resume && !before(after.c_str(), name)) return;
        names.emplace_back(name);
        if (names.size() < 2 * kWindow) return;
        keep_first(names, kWindow);
        cut = true;
    });
    if (names.size() > kWindow) {
        keep_first(names, kWindow);
        cut = true;
    }
    std::sort(names.begin(), names.end(), by_name);
    window_.swap(names);
    pos_ = 0;
    more_ = cut;
    return !window_.empty();
}

bool Search::next() {
    if (pos_ + 1 < window_.size()) {
        ++pos_;
        return true;
    }
    return more_ && fill();
}

int Search::count(const std::string &pattern) {
    int n = 0;
    for_each_match(pattern, [&n](const char *) { ++n; });
    return n;
}

int count_matches(const std::string &pattern) { return Search::count(pattern); }

}  // namespace vellor::files
