// Reporter::report over Write_Log and Report_Status.
#include "support/report.h"

#include "support/log_file.h"
#include "support/report_texts.h"
#include "support/status_callback.h"
#include "support/text.h"

namespace vellor {
namespace {

// What a Where means: which sides, which is prefixed, which goes first.
struct Route {
    bool log, callback, prefix_log, prefix_callback, callback_first;
};

// Each Where's route, in the order Where lists them.
constexpr Route kRoutes[] = {
    {true, false, false, false, false},  // log
    {true, false, true, false, false},   // log_prefixed
    {false, true, false, false, false},  // callback
    {false, true, false, true, false},   // callback_prefixed
    {true, true, true, false, false},    // both
    {true, true, true, true, false},     // both_prefixed
    {true, true, false, false, false},   // both_as_given
    {true, true, false, false, true},    // callback_then_log
};
static_assert(sizeof kRoutes / sizeof kRoutes[0] == static_cast<std::size_t>(Where::callback_then_log) + 1);

}  // namespace

void Reporter::report(Where where, int st, int code, std::string_view text) const {
    const Route &r = kRoutes[static_cast<std::size_t>(where)];
    auto to_log = [&] {
        std::string line = secrets.shown(r.prefix_log ? prefixed(text) : std::string(text));
        if (lines)
            lines->write(line);
        else
            Write_Log(line);
    };
    auto to_callback = [&] {
        std::string shown = secrets.shown(r.prefix_callback ? prefixed(text) : std::string(text));
        if (post)
            post(st, code, shown);
        else
            Report_Status(record_, st, shown, code, cb, own);
    };
    if (r.callback && r.callback_first) to_callback();
    if (r.log) to_log();
    if (r.callback && !r.callback_first) to_callback();
}

void Reporter::report_unfit(int code, std::string_view what, std::size_t size) const {
    report(Where::both_as_given, 920, code, prefixed(fill(texts::kLongerThanField, {what, std::to_string(size - 1)})));
}

int Reporter::unfit(int code, std::string_view what, std::size_t size) const {
    report_unfit(code, what, size);
    if (record_) record_->nErrorCode = static_cast<int16_t>(code);
    return -1;
}

}  // namespace vellor
