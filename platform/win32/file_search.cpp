// Directory searches with FindFirstFileA / FindNextFileA / FindClose: the
// system does the wildcard matching; the names are then put in name order
// (without regard to case), as the Linux build returns them.
#include "platform/file_search.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace vellor::files {

bool Search::first(const std::string &pattern) {
    close();
    WIN32_FIND_DATAA found;
    HANDLE h = ::FindFirstFileA(pattern.c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return false;
    do {
        if (std::strcmp(found.cFileName, ".") == 0 || std::strcmp(found.cFileName, "..") == 0) continue;
        starts_.push_back(static_cast<uint32_t>(text_.size()));
        text_.append(found.cFileName);
        text_.push_back('\0');
    } while (::FindNextFileA(h, &found));
    ::FindClose(h);
    const char *base = text_.data();
    std::sort(starts_.begin(), starts_.end(), [base](uint32_t a, uint32_t b) {
        int c = ::_stricmp(base + a, base + b);
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
