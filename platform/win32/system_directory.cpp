// The system directory, where the default log file lies: GetSystemDirectoryA.
#include "platform/system_directory.h"

#include <windows.h>

namespace vellor::platform {

std::string system_directory() {
    char buf[MAX_PATH + 1];
    UINT n = ::GetSystemDirectoryA(buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string("C:\\Windows\\System32");
}

}  // namespace vellor::platform
