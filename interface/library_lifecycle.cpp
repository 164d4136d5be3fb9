// Library start-up, close-down and version exports. Start-up fills the
// caller's library record, initialises the process-wide companion block and
// compares the companion's release and structure revision with ours,
// warning (never failing) on a difference. An application name longer than
// 127 characters is refused: the record is left cleared, the library not
// initialised, and the log says why. The companion block is left open
// after start-up: every send initialises it again. Close-down forgets no
// record's own options (VELLOR_Set_Request_Option): another thread may be
// between setting them and its send; they end with
// VELLOR_Initialize_Structure on their record. Relay sessions are kept
// between calls (KeepConnection) from start-up on; close-down ends them.
#include <cstring>

#include "common/export_guard.h"
#include "platform/message_box.h"
#include "support/report.h"
#include "support/report_texts.h"
#include "support/text.h"
#include "transport/companion.h"
#include "transport/kept_connections.h"
#include "transport/tls_resumption.h"
#include "vellorapi.h"

namespace {

using namespace vellor;

constexpr const char *kVersion = "2.61.0.30";
constexpr const char *kBuild = "060125";
constexpr const char *kBuildDate = "Jan 25, 2006";
constexpr int32_t kLibraryCode = 2111;

long address_of(const void *p) { return static_cast<long>(reinterpret_cast<intptr_t>(p)); }

void check_companion_release(SMTPINIT_STRUCTURE *library) {
    bool same_release = equal_nocase(field_text(library->szVersion), field_text(library->szTcpVersion)) &&
                        equal_nocase(field_text(library->szBuild), field_text(library->szTcpBuild));
    if (!same_release)
        ui::MessageBoxA(nullptr, texts::kReleaseWarning, texts::kWarningTitle, ui::MB_OK | ui::MB_SYSTEMMODAL);
    if (library->dwTcpStructRevision != library->dwStructRevision)
        ui::MessageBoxA(nullptr, texts::kRevisionWarning, texts::kWarningTitle, ui::MB_OK | ui::MB_SYSTEMMODAL);
}

}  // namespace

extern "C" {

VELLOR_API void VELLOR_Initialize_Library(SMTPINIT_STRUCTURE *library, uint32_t, const char *applicationName) {
    vellor::guarded_void([&] {
        if (!library) return;
        std::string app = text_or_empty(applicationName);
        std::memset(library, 0, sizeof *library);
        Reporter rep;
        rep.app = app;
        if (!set_field(library->szApplication, app)) {  // never kept under a cut name
            rep.report(Where::log, 0, 0, texts::kAppNameTooLong);
            return;
        }
        library->nLibraryCode = kLibraryCode;
        (void)set_field(library->szVersion, kVersion);  // fixed texts that fit
        (void)set_field(library->szBuild, kBuild);
        library->dwStructRevision = VELLOR_STRUCT_REVISION;

        TCPLIBRARY_STRUCTURE *block = transport::send_block();
        std::memset(block, 0, sizeof *block);
        transport::library_start(block, "VELLOR_API_DEMO_APP");
        rep.report(Where::log_prefixed, 0, 0, format(texts::kLibraryStarted, address_of(block)));

        transport::session_check(block);
        rep.report(Where::log_prefixed, 0, 0, texts::kStructureStarted);

        transport::CompanionVersion tcp = transport::companion_version();
        (void)set_field(library->szTcpVersion, tcp.version);  // read from fields as large
        (void)set_field(library->szTcpBuild, tcp.build);
        library->dwTcpStructRevision = tcp.revision;
        check_companion_release(library);

        library->bLibraryInitialized = 1;
        transport::kept::open();  // relay sessions may be kept between calls from now on
        rep.report(Where::log_prefixed, 0, 0, format(texts::kLibraryClosed, address_of(block)));
        rep.report(Where::log_prefixed, 0, 0, format(texts::kSmtpStarted, address_of(library)));
    });
}

VELLOR_API void VELLOR_Closedown_Library(SMTPINIT_STRUCTURE *library, const char *applicationName) {
    vellor::guarded_void([&] {
        if (library) library->bLibraryInitialized = 0;
        transport::kept::close_all();         // every session kept between calls ends here
        transport::resumption::forget_all();  // and no TLS session is resumed any more
        Reporter rep;
        rep.app = text_or_empty(applicationName);
        rep.report(Where::log_prefixed, 0, 0, format(texts::kSmtpClosed, address_of(library)));
        rep.report(Where::log, 0, 0, texts::kClosedMark);
        rep.report(Where::log, 0, 0, texts::kClosedBlank);
    });
}

VELLOR_API void VellorAPI_Library_Version(char *version, char *build, DWORD *structRevision) {
    vellor::guarded_void([&] {
        if (version) std::strcpy(version, kVersion);
        if (build) std::strcpy(build, kBuild);
        if (structRevision) *structRevision = VELLOR_STRUCT_REVISION;
    });
}

VELLOR_API void VellorAPI_Get_Build_Date(char *date) {
    vellor::guarded_void([&] {
        if (date) std::strcpy(date, kBuildDate);
    });
}

}  // extern "C"
