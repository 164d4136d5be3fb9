// Report pairs over Write_Log and Report_Status.
#include "support/report.h"

#include "support/log_file.h"
#include "support/status_callback.h"

namespace vellor {

void Reporter::log(const std::string &line) const {
    if (lines)
        lines->write(secrets.shown(line));
    else
        Write_Log(secrets.shown(line));
}

void Reporter::status(int st, int code, const std::string &text) const {
    if (post)
        post(st, code, secrets.shown(text));
    else
        Report_Status(req, st, secrets.shown(text), code, cb, own);
}

void Reporter::log_and_status(int st, int code, const std::string &text) const {
    log(prefixed(text));
    status(st, code, text);
}

void Reporter::log_and_status_prefixed(int st, int code, const std::string &text) const {
    std::string line = prefixed(text);
    log(line);
    status(st, code, line);
}

int Reporter::unfit(int code, std::string_view what, std::size_t size) const {
    std::string text = prefixed(what, " is longer than its field of ");
    text.append(std::to_string(size - 1)).append(" characters (or holds a NUL): not sent, never cut");
    log(text);
    status(920, code, text);
    if (req) req->nErrorCode = static_cast<int16_t>(code);
    return -1;
}

void Reporter::status_then_log(int st, int code, const std::string &line) const {
    status(st, code, line);
    log(line);
}

}  // namespace vellor
