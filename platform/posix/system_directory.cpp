// The system directory, where the default log file lies.
#include "platform/system_directory.h"

#include <cstdlib>

namespace vellor::platform {

std::string system_directory() {
    const char *env = std::getenv("VELLORAPI_SYSTEM_DIR");
    return env && *env ? env : "/var/log";
}

}  // namespace vellor::platform
