// One call's reports: a log line, a status callback, or both
// (log_and_status); most texts carry the prefix "VellorAPI [<app>] - ".
#pragma once
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "support/request_options.h"
#include "support/secret_mask.h"
#include "vellorapi.h"

namespace vellor {

class LogBatch;

// Who reports, to whom: the application's name for the log lines, the
// request handed to the callback, and the callback itself; the record's own
// options, taken as a value when the send began (they decide the log and
// the callback's trimming, and every option the send reads), the call's
// batch of log lines (a line goes straight to the log without one), and
// the call's credentials, masked in every line and report before anything
// cuts them.
struct Reporter {
    std::string app;
    SMTPSEND_STRUCTURE *req = nullptr;
    VELLOR_STATUS_CALLBACK cb = nullptr;
    options::RequestValues own;
    LogBatch *lines = nullptr;
    Secrets secrets;
    // While set, a report for the callback goes here instead (a connection
    // of a parallel queue pass hands its reports to the calling thread).
    std::function<void(int st, int code, const std::string &text)> post;

    // "VellorAPI [app] - " with the text (and more), in one allocation.
    std::string prefixed(std::string_view text, std::string_view more = {}) const {
        std::string line;
        line.reserve(16 + app.size() + text.size() + more.size());
        return line.append("VellorAPI [").append(app).append("] - ").append(text).append(more);
    }
    void log(const std::string &line) const;                       // log only
    void status(int st, int code, const std::string &text) const;  // callback only
    // Log "VellorAPI [app] - text", callback "text".
    void log_and_status(int st, int code, const std::string &text) const;
    // Log and callback both "VellorAPI [app] - text".
    void log_and_status_prefixed(int st, int code, const std::string &text) const;
    // Callback first, then the same text to the log.
    void status_then_log(int st, int code, const std::string &line) const;
    // A value that does not fit its fixed field of `size` bytes (see
    // set_field): reported (920, code) and stored in nErrorCode; -1.
    int unfit(int code, std::string_view what, std::size_t size) const;
};

}  // namespace vellor
