// The part of directory searches every platform shares: the matching names
// kept in one buffer, put in name order without regard to case (names equal
// but for case in byte order), handed out one by one.
#include "platform/file_search.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace vellor::files {
namespace {

int compare_nocase(const char *a, const char *b) {
    for (;; ++a, ++b) {
        int x = std::tolower(static_cast<unsigned char>(*a)), y = std::tolower(static_cast<unsigned char>(*b));
        if (x != y || x == 0) return x - y;
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

int count_matches(const std::string &pattern) {
    Search s;
    if (!s.first(pattern)) return 0;
    int n = 1;
    while (s.next()) ++n;
    return n;
}

}  // namespace vellor::files
