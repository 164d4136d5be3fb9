// GetSystemDirectoryA for Linux: $VELLORAPI_SYSTEM_DIR, else /var/log.
#pragma once
#include <string>

namespace vellor::platform {
std::string system_directory();
}
