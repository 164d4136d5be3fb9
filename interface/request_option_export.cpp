// VELLOR_Set_Request_Option: an option for one request record, over the
// options file or registry, until the next VELLOR_Initialize_Structure on
// that record (the store and the checks of
// names and values are support/request_options.h). The record's dwReserved2
// takes the mark of its options, by which a byte copy is told at its send. On a refusal the reason
// goes into szErrorText; one that does not fit whole is replaced by a
// shorter one that names the option only.
#include "common/export_guard.h"
#include "support/report_texts.h"
#include "support/request_options.h"
#include "support/text.h"
#include "vellorapi.h"

using namespace vellor;

namespace {

void put_reason(SMTPSEND_STRUCTURE *request, const std::string &name, const std::string &why) {
    if (set_field(request->szErrorText, why)) return;
    auto known = options::known_name(name);
    std::string shorter = known ? fill(texts::kOptionCannotTake, {*known}) : std::string(texts::kUnknownOptionShort);
    (void)set_field(request->szErrorText, shorter);  // short enough for any name the table holds
}

}  // namespace

extern "C" VELLOR_API int32_t VELLOR_Set_Request_Option(SMTPSEND_STRUCTURE *request, const char *name,
                                                        const char *value) {
    return vellor::guarded(-1, [&]() -> int32_t {
        if (!request) return -1;
        std::string why;
        if (options::set_request_option(request, text_or_empty(name), text_or_empty(value), why,
                                        field_text(request->szAuthUser))) {
            request->dwReserved2 = options::options_mark(request);  // a copy of the record carries it away
            return 0;
        }
        put_reason(request, text_or_empty(name), why);
        return -1;
    });
}
