// The part of directory searches every platform shares: the matching names
// put in name order without regard to case (names equal but for case in
// byte order) and handed out one by one from a bounded window, each window
// found by one reading of the directory.
#include "platform/file_search.h"

#include <algorithm>
#include <cstdint>
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

}  // namespace

// Names in one buffer, each ended by a NUL, and where each begins: a
// window of thousands of names costs their bytes and four more each.
struct Names {
    std::string text;
    std::vector<uint32_t> starts;

    const char *at(uint32_t start) const { return text.c_str() + start; }
    bool less(uint32_t a, uint32_t b) const { return before(at(a), at(b)); }
    void add(const char *name) {
        starts.push_back(static_cast<uint32_t>(text.size()));
        text.append(name);
        text.push_back('\0');
    }
    void order() {
        std::sort(starts.begin(), starts.end(), [this](uint32_t a, uint32_t b) { return less(a, b); });
    }
    // Keeps the `limit` first names (in no particular order) and moves their
    // bytes down over the others' in place: no second buffer.
    void keep_first(std::size_t limit) {
        std::nth_element(starts.begin(), starts.begin() + static_cast<std::ptrdiff_t>(limit), starts.end(),
                         [this](uint32_t a, uint32_t b) { return less(a, b); });
        starts.resize(limit);
        std::sort(starts.begin(), starts.end());  // by place in the buffer: each name moves down or stays
        uint32_t to = 0;
        for (uint32_t &start : starts) {
            std::size_t size = std::strlen(at(start)) + 1;
            std::memmove(text.data() + to, text.data() + start, size);
            start = to;
            to += static_cast<uint32_t>(size);
        }
        text.resize(to);
    }
    const char *last() const {
        return at(
            *std::max_element(starts.begin(), starts.end(), [this](uint32_t a, uint32_t b) { return less(a, b); }));
    }
};

Search::Search() : window_(std::make_unique<Names>()) {}
Search::~Search() = default;

std::string Search::name() const { return window_->at(window_->starts[pos_]); }

std::string Search::name_after() const {
    return pos_ + 1 < window_->starts.size() ? window_->at(window_->starts[pos_ + 1]) : std::string();
}

void Search::close() {
    *window_ = Names();
    pos_ = 0;
}

bool Search::first(const std::string &pattern) {
    close();
    pattern_ = pattern;
    return fill();
}

bool Search::fill() {
    const bool resume = !window_->starts.empty();
    const std::string after = resume ? window_->at(window_->starts.back()) : "";
    Names names;
    names.starts.reserve(2 * kWindow);  // never grown by copying (pages a small queue leaves unused stay untouched)
    names.text.reserve(2 * kWindow * 16);
    std::string bound;  // once names were dropped: the last kept, a name after it cannot make the window
    bool cut = false;
    for_each_match(pattern_, [&](const char *name) {
        if (resume && !before(after.c_str(), name)) return;
        if (cut && !before(name, bound.c_str())) return;
        names.add(name);
        if (names.starts.size() < 2 * kWindow) return;
        names.keep_first(kWindow);
        bound = names.last();
        cut = true;
    });
    if (names.starts.size() > kWindow) {
        names.keep_first(kWindow);
        cut = true;
    }
    names.order();
    *window_ = std::move(names);
    pos_ = 0;
    more_ = cut;
    return !window_->starts.empty();
}

bool Search::next() {
    if (pos_ + 1 < window_->starts.size()) {
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
