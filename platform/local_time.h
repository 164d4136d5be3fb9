// GetLocalTime for Linux.
#pragma once

namespace vellor::platform {

struct LocalTime {
    int year, month, day, hour, minute, second;
};
LocalTime local_time();

}  // namespace vellor::platform
