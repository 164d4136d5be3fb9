// The status callback. Option "callback": 0 or 2 the whole text; 1 the text
// after the first " - "; 3 the text from the blank after the first "]" that
// is followed by " - "; any other value: the report is dropped. A null
// callback returns before the registry is read.
#include "support/status_callback.h"

#include "support/options.h"

namespace vellor {

int32_t Report_Status(SMTPSEND_STRUCTURE *request, int32_t status, const std::string &text, int32_t code,
                      VELLOR_STATUS_CALLBACK callback, const options::RequestValues &own) {
    if (!callback) return 0;
    std::size_t from = 0, at;
    switch (options::callback_mode(own)) {
        case 0:
        case 2:
            break;
        case 1:
            at = text.find(" - ");
            if (at != std::string::npos) from = at + 3;
            break;
        case 3:
            at = text.find("] - ");
            if (at != std::string::npos) from = at + 1;
            break;
        default:
            return 0;
    }
    std::string selected = text.substr(from);
    return callback(request, status, selected.c_str(), code);
}

}  // namespace vellor
