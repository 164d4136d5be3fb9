// Directory searches with Windows wildcard semantics.
#include "platform/file_search.h"

#include <dirent.h>

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

bool for_each_match(const std::string &pattern, const std::function<void(const char *)> &each) {
    std::size_t slash = pattern.rfind('/');
    std::string dir = slash == std::string::npos ? "." : pattern.substr(0, slash + 1);
    std::string mask = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    DIR *d = ::opendir(resolve_nocase(dir).c_str());
    if (!d) return false;
    while (dirent *e = ::readdir(d)) {
        if (wildcard_match(mask, e->d_name)) each(e->d_name);
    }
    ::closedir(d);
    return true;
}

}  // namespace vellor::files
