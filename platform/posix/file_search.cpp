// Directory searches with Windows wildcard semantics.
#include "platform/file_search.h"

#include <dirent.h>
#include <strings.h>

#include <cstring>

#include <algorithm>
#include <cctype>

#include "platform/files.h"

namespace vellor::files {
namespace {

bool same_char(char p, char n) {
    return p == '?' || std::tolower(static_cast<unsigned char>(p)) == std::tolower(static_cast<unsigned char>(n));
}

// '*' and '?' matching with one remembered star: on a mismatch the last
// star takes one more character. At most pattern x name steps, whatever
// the pattern (no backtracking over every star).
bool match_from(const char *p, const char *n) {
    const char *star = nullptr, *resume = nullptr;
    while (*n) {
        if (*p == '*') {
            star = p++;
            resume = n;
        } else if (*p && same_char(*p, *n)) {
            ++p;
            ++n;
        } else if (star) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (*p == '*') ++p;
    return *p == '\0';
}

}  // namespace

bool wildcard_match(const std::string &pattern, const std::string &name) {
    if (name == "." || name == "..") return false;
    // "*." and "name." mean: a name without extension.
    if (!pattern.empty() && pattern.back() == '.') {
        if (name.find('.') != std::string::npos) return false;
        return match_from(pattern.substr(0, pattern.size() - 1).c_str(), name.c_str());
    }
    return match_from(pattern.c_str(), name.c_str());
}

bool Search::first(const std::string &pattern) {
    close();
    std::size_t slash = pattern.rfind('/');
    std::string dir = slash == std::string::npos ? "." : pattern.substr(0, slash + 1);
    std::string mask = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    DIR *d = ::opendir(resolve_nocase(dir).c_str());
    if (!d) return false;
    while (dirent *e = ::readdir(d)) {
        if (!wildcard_match(mask, e->d_name)) continue;
        starts_.push_back(static_cast<uint32_t>(text_.size()));
        text_.append(e->d_name);
        text_.push_back('\0');
    }
    ::closedir(d);
    const char *base = text_.data();
    std::sort(starts_.begin(), starts_.end(), [base](uint32_t a, uint32_t b) {
        int c = ::strcasecmp(base + a, base + b);
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
