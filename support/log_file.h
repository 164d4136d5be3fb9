// The time-stamped log file: Write_Log appends one line, Trim_Log cuts the
// file down to its newest part when it has grown past its limit. Every
// failure is silent.
#pragma once
#include <string>

namespace vellor {

void Write_Log(const std::string &text);
void Trim_Log(const std::string &path);

// The path Write_Log writes to now ("logfile" option or the default).
std::string log_file_path();

// Test seam: the process-wide line counter.
int log_line_counter();
void set_log_line_counter(int value);

}  // namespace vellor
