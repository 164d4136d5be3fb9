// VELLOR_Get_Error_Details: the text of nErrorCode (support/error_text.h)
// into szErrorText.
#include "common/export_guard.h"
#include "support/error_text.h"
#include "support/text.h"
#include "vellorapi.h"

extern "C" VELLOR_API void VELLOR_Get_Error_Details(SMTPSEND_STRUCTURE *request) {
    vellor::guarded_void([&] {
        if (!request) return;
        (void)vellor::set_field(request->szErrorText, vellor::error_text(request->nErrorCode));  // every text fits
    });
}
