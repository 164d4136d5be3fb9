// The time-stamped log file: Write_Log appends one line, Trim_Log cuts the
// file down to its newest part when it has grown past its limit. Every
// failure is silent.
#pragma once
#include <string>

#include "support/request_options.h"

namespace vellor {

// One line, written at once, where the options file puts the log (a line
// outside any send).
void Write_Log(const std::string &text);
void Trim_Log(const std::string &path);

// The lines of one send (or one connection of a parallel pass), a value of
// that call: held and written with one append when it ends (sooner when 64
// KiB are held, and before a trim), so every line is on disk, in order,
// before the call that wrote it returns. Whether the log is on, and where
// it is, is read when the lines are written, the record's own values
// (`own`, which outlives the batch) before the options file's.
class LogBatch {
public:
    explicit LogBatch(const options::RequestValues &own) : own_(own) {}
    ~LogBatch();
    LogBatch(const LogBatch &) = delete;
    LogBatch &operator=(const LogBatch &) = delete;
    void write(const std::string &text);

private:
    void flush();
    const options::RequestValues &own_;
    std::string lines_;
};

// The path Write_Log writes to now ("logfile" option or the default).
std::string log_file_path(const options::RequestValues &own = {});

// Test seam: the process-wide line counter.
int log_line_counter();
void set_log_line_counter(int value);

}  // namespace vellor
