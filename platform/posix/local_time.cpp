// The local wall-clock time, from the C library. The broken-down time is
// worked out once a second per thread: a log line is stamped for every step
// of every message, and the conversion is the dearer part of a stamp.
#include "platform/local_time.h"

#include <ctime>

namespace vellor::platform {

LocalTime local_time() {
    thread_local std::time_t last = -1;
    thread_local LocalTime known{};
    std::time_t now = std::time(nullptr);
    if (now == last) return known;
    std::tm tm{};
    ::localtime_r(&now, &tm);
    known = {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
    last = now;
    return known;
}

}  // namespace vellor::platform
