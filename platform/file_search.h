// Directory searches as FindFirstFileA / FindNextFileA / FindClose make
// them: Windows wildcard matching ('*', '?', a trailing '.' meaning "no
// extension"; on Linux by wildcard_match), names compared without regard to
// case, matches returned in case-insensitive name order.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vellor::files {

bool wildcard_match(const std::string &pattern, const std::string &name);

// The platform's directory reading: `each` is called with every entry the
// pattern (a path whose last component may hold wildcards) matches, "." and
// ".." never. False when the directory cannot be read.
bool for_each_match(const std::string &pattern, const std::function<void(const char *)> &each);

// The names are handed out in order from a window of at most kWindow names:
// when it is used up and the directory held more, the directory is read
// again for the names after the last one handed out. A queue of 50,000 files
// costs the memory of one window, and a name added during a search is
// handed out if it sorts after the names already given.
struct Names;

class Search {
public:
    static constexpr std::size_t kWindow = 4096;

    Search();
    ~Search();
    Search(const Search &) = delete;
    Search &operator=(const Search &) = delete;
    bool first(const std::string &pattern);  // false when nothing matches
    bool next();                             // false at the end
    std::string name() const;
    // The name next() would hand out when it is in the window already, else
    // "" (the directory is not read for it).
    std::string name_after() const;
    void close();

    // Number of entries matching the pattern (counted, not kept).
    static int count(const std::string &pattern);

private:
    bool fill();  // the window of names after the last one handed out
    std::string pattern_;
    std::unique_ptr<Names> window_;  // the names handed out next, in order
    std::size_t pos_ = 0;
    bool more_ = false;  // the window was cut: names may follow it
};

// Number of entries matching the pattern.
int count_matches(const std::string &pattern);

}  // namespace vellor::files
