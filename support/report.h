// One call's reports through one entry, Reporter::report: a log line, a
// status callback, or both, in the order and with the prefix
// "VellorAPI [<app>] - " that Where names. The texts are in
// support/report_texts.h.
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

// Where a report goes and how its text reads there ("prefixed": with
// "VellorAPI [app] - " before it).
enum class Where {
    log,                // the log only, as given
    log_prefixed,       // the log only, prefixed
    callback,           // the callback only, as given
    callback_prefixed,  // the callback only, prefixed
    both,               // the log prefixed, then the callback as given
    both_prefixed,      // the log, then the callback, both prefixed
    both_as_given,      // the log, then the callback, both as given
    callback_then_log,  // the callback, then the log, both as given
};

// Who reports, to whom: the application's name for the log lines, the
// request handed to the callback (set once by its owner, `address`, and
// never read back here: the record is the callback's, and `unfit`'s error
// code is shown in it), and the callback itself; the record's own
// options, taken as a value when the send began (they decide the log and
// the callback's trimming, and every option the send reads), the call's
// batch of log lines (a line goes straight to the log without one), and
// the call's credentials, masked in every line and report before anything
// cuts them.
struct Reporter {
    std::string app;
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
    // The one way a report goes out: to the log, the callback or both (see
    // Where), with the callback's status `st` and error `code` (both unused
    // for the log).
    void report(Where where, int st, int code, std::string_view text) const;
    // A value that does not fit its fixed field of `size` bytes (see
    // set_field): reported (920, code) and stored in nErrorCode; -1.
    int unfit(int code, std::string_view what, std::size_t size) const;
    // The same report alone, for a reporter whose owner shows the code.
    void report_unfit(int code, std::string_view what, std::size_t size) const;
    // The record the callback is handed.
    void address(SMTPSEND_STRUCTURE *record) { record_ = record; }

private:
    SMTPSEND_STRUCTURE *record_ = nullptr;
};

}  // namespace vellor
