// Directory searches as FindFirstFileA / FindNextFileA / FindClose make
// them: Windows wildcard matching ('*', '?', a trailing '.' meaning "no
// extension"; on Linux by wildcard_match), names compared without regard to
// case, matches returned in case-insensitive name order.
#pragma once
#include <memory>
#include <string>
#include <cstdint>
#include <vector>

namespace vellor::files {

bool wildcard_match(const std::string &pattern, const std::string &name);

// The matching names are kept in one buffer (a queue of 50,000 files costs
// well under a megabyte) and handed out in order.
class Search {
public:
    // pattern is a path whose last component may hold wildcards.
    bool first(const std::string &pattern) { return collect(pattern) && finish(); }  // false when nothing matches
    bool next();                                                                     // false at the end
    std::string name() const { return std::string(text_.data() + starts_[pos_]); }
    void close() {
        text_.clear();
        starts_.clear();
        pos_ = 0;
    }

    // Number of entries matching the pattern (not put in order).
    static int count(const std::string &pattern);

private:
    bool collect(const std::string &pattern);  // the platform's directory reading; false when none
    void add(const char *name);                // one matching name
    bool finish();                             // puts the names in order; false when none
    std::string text_;                         // the names, each ended by a NUL
    std::vector<uint32_t> starts_;             // where each begins, in name order
    std::size_t pos_ = 0;
};

// Number of entries matching the pattern.
int count_matches(const std::string &pattern);

}  // namespace vellor::files
