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
#include "support/log_file.h"
#include "support/request_options.h"
#include "support/text.h"
#include "vellorapi.h"

using namespace vellor;

extern "C" VELLOR_API int32_t VELLOR_Initialize_Structure(SMTPINIT_STRUCTURE *library, SMTPSEND_STRUCTURE *request) {
    return vellor::guarded(-1, [&]() -> int32_t {
        if (!library || library->bLibraryInitialized == 0) {
            ui::MessageBoxA(nullptr,
                            "You do not appear to have called the VellorAPI_Initialize_Library() startup call.\r\n"
                            "You must call this before calling any other VellorAPI functions...",
                            "Orvane VellorAPI Library", ui::MB_OK | ui::MB_ICONQUESTION | ui::MB_SYSTEMMODAL);
            return 1;
        }
        if (!request) return 1;
        options::forget_record(request);  // the options it carried end here
        std::string app = field_text(library->szApplication);
        if (request->nInitialized != 1) {
            std::memset(request, 0, sizeof *request);
            request->nInitialized = 1;
            Write_Log(format("VellorAPI [%s] - SMTPSEND_STRUCTURE first initialized successfully", app.c_str()));
            return 0;
        }
        HGLOBAL list = request->hRecipients;
        if (list && (GlobalFlags(list) & GMEM_LOCKCOUNT) != 0) {
            GlobalUnlock(list);
            GlobalFree(list);
            Write_Log("VellorAPI - **WARNING** - VELLOR_SEND hRecipients global memory pointer freed.");
        }
        std::memset(request, 0, sizeof *request);
        request->nInitialized = 1;
        Write_Log(format("VellorAPI [%s] - SMTPSEND_STRUCTURE re-initialized successfully.", app.c_str()));
        return 0;
    });
}
