// FindFirstFileA / FindNextFileA / FindClose for Linux: Windows wildcard
// matching ('*', '?', a trailing '.' meaning "no extension"), names compared
// without regard to case, matches returned in case-insensitive name order.
#pragma once
#include <memory>
#include <string>
#include <vector>

namespace vellor::files {

bool wildcard_match(const std::string &pattern, const std::string &name);

class Search {
public:
    // pattern is a path whose last component may hold wildcards.
    bool first(const std::string &pattern);  // false when nothing matches
    bool next();                              // false at the end
    const std::string &name() const { return names_[pos_]; }
    void close() { names_.clear(); pos_ = 0; }

private:
    std::vector<std::string> names_;
    std::size_t pos_ = 0;
};

// Number of entries matching the pattern.
int count_matches(const std::string &pattern);

}  // namespace vellor::files
