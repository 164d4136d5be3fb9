// The time-stamped log file: Write_Log appends one line, Trim_Log cuts the
// file down to its newest part when it has grown past its limit. Every
// failure is silent.
#pragma once
#include <string>

namespace vellor {

void Write_Log(const std::string &text);
void Trim_Log(const std::string &path);

// The lines of one call of the library: while one of these lives on a
// thread, that thread's lines are held and written with one append when it
// ends (sooner when 64 KiB are held, and before a trim), so every line is on
// disk, in order, before the call that wrote it returns. Whether the log is
// on, and where it is, is read when the lines are written.
class LogBatch {
public:
    LogBatch();
    ~LogBatch();
    LogBatch(const LogBatch &) = delete;
    LogBatch &operator=(const LogBatch &) = delete;
};

// The path Write_Log writes to now ("logfile" option or the default).
std::string log_file_path();

// Test seam: the process-wide line counter.
int log_line_counter();
void set_log_line_counter(int value);

}  // namespace vellor
