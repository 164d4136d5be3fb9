// Preparation of the request record: refused (message box, result 1, record
// untouched) while the library record is not initialised; otherwise the
// record is cleared and marked prepared. Re-initialising frees a list block
// that was left locked (unlock once, free); an unlocked one stays the
// application's. Options set on the record (VELLOR_Set_Request_Option) end
// here.
#include <cstring>

#include "platform/global_memory.h"
#include "common/export_guard.h"
#include "platform/message_box.h"
#include "support/report.h"
#include "support/report_texts.h"
#include "support/request_options.h"
#include "support/text.h"
#include "vellorapi.h"

using namespace vellor;

extern "C" VELLOR_API int32_t VELLOR_Initialize_Structure(SMTPINIT_STRUCTURE *library, SMTPSEND_STRUCTURE *request) {
    return vellor::guarded(-1, [&]() -> int32_t {
        if (!library || library->bLibraryInitialized == 0) {
            ui::MessageBoxA(nullptr, texts::kNotInitialized, texts::kNotInitializedTitle,
                            ui::MB_OK | ui::MB_ICONQUESTION | ui::MB_SYSTEMMODAL);
            return 1;
        }
        if (!request) return 1;
        options::forget_record(request);  // the options it carried end here
        Reporter rep;
        rep.app = field_text(library->szApplication);
        if (request->nInitialized != 1) {
            std::memset(request, 0, sizeof *request);
            request->nInitialized = 1;
            rep.report(Where::log_prefixed, 0, 0, texts::kRecordFirstInitialized);
            return 0;
        }
        HGLOBAL list = request->hRecipients;
        if (list && (GlobalFlags(list) & GMEM_LOCKCOUNT) != 0) {
            GlobalUnlock(list);
            GlobalFree(list);
            rep.report(Where::log, 0, 0, texts::kListBlockFreed);
        }
        std::memset(request, 0, sizeof *request);
        request->nInitialized = 1;
        rep.report(Where::log_prefixed, 0, 0, texts::kRecordReinitialized);
        return 0;
    });
}
