// Report pairs over Write_Log and Report_Status.
#include "support/report.h"

#include "support/log_file.h"
#include "support/status_callback.h"

namespace vellor {

void Reporter::log(const std::string &line) const { Write_Log(line); }

void Reporter::status(int st, int code, const std::string &text) const { Report_Status(req, st, text, code, cb); }

void Reporter::pair(int st, int code, const std::string &text) const {
    log(prefixed(text));
    status(st, code, text);
}

void Reporter::both(int st, int code, const std::string &text) const {
    std::string line = prefixed(text);
    log(line);
    status(st, code, line);
}

void Reporter::status_then_log(int st, int code, const std::string &line) const {
    status(st, code, line);
    log(line);
}

}  // namespace vellor
