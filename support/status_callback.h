// Report_Status: hands one report to the application's status callback,
// trimmed as the "callback" option says (the send's record's own value
// first); the callback's result (0 when none was called).
#pragma once
#include <string>

#include "support/request_options.h"
#include "vellorapi.h"

namespace vellor {

int32_t Report_Status(SMTPSEND_STRUCTURE *request, int32_t status, const std::string &text, int32_t code,
                      VELLOR_STATUS_CALLBACK callback, const options::RequestValues &own);

}  // namespace vellor
