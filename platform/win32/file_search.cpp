// Directory searches with FindFirstFileA / FindNextFileA / FindClose: the
// system does the wildcard matching; file_search.cpp puts the names in order.
#include "platform/file_search.h"

#include <windows.h>

#include <cstring>

namespace vellor::files {

bool for_each_match(const std::string &pattern, const std::function<void(const char *)> &each) {
    WIN32_FIND_DATAA found;
    HANDLE h = ::FindFirstFileA(pattern.c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return false;
    do {
        if (std::strcmp(found.cFileName, ".") != 0 && std::strcmp(found.cFileName, "..") != 0) each(found.cFileName);
    } while (::FindNextFileA(h, &found));
    ::FindClose(h);
    return true;
}

}  // namespace vellor::files
