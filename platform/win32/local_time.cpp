// The local wall-clock time: GetLocalTime.
#include "platform/local_time.h"

#include <windows.h>

namespace vellor::platform {

LocalTime local_time() {
    SYSTEMTIME t;
    ::GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

}  // namespace vellor::platform
