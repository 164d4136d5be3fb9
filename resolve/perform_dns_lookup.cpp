// VELLOR_Perform_DNS_Lookup: a forward lookup of szServer (all addresses,
// at most 8, into szMxIPAddress, the first into szServerIP) or, when
// szServer is empty, a reverse lookup of szServerIP into szServer. Its own
// library block and session record, access name "VELLOR_WINSOCK_ACCESS".
#include <cstring>

#include "common/export_guard.h"
#include "support/log_file.h"
#include "support/text.h"
#include "transport/companion.h"
#include "vellorapi.h"

using namespace vellor;

namespace {

constexpr const char *kAccess = "VELLOR_WINSOCK_ACCESS";

void close_down(TCPLIBRARY_STRUCTURE *block, const std::string &app, const char *stopLine, const char *closeLine) {
    transport::network_stop(block);
    Write_Log(format(stopLine, app.c_str()));
    transport::library_close(block, kAccess);
    Write_Log(format(closeLine, app.c_str()));
}

bool forward(TCPLIBRARY_STRUCTURE *block, TCPSESSION_STRUCTURE *session, SMTPSEND_STRUCTURE *req,
             const std::string &app) {
    std::string server = field_text(req->szServer);
    Write_Log(format("VellorAPI [%s] - Calling gethostbyname() for [%s].", app.c_str(), server.c_str()));
    if (!transport::lookup_addresses(block, session, server)) {
        close_down(block, app, "VellorAPI [%s] - Winsock for DNS lookup closed successfully.",
                   "VellorAPI [%s] - Winsock library for DNS lookup closed successfully.");
        return false;
    }
    int n = 0;  // a dotted address always fits; anything longer is not copied
    while (n < std::min<int>(session->nAddresses, 8) &&
           set_field(req->szMxIPAddress[n], field_view(session->szAddress[n])))
        ++n;
    (void)set_field(req->szServerIP, field_view(session->szAddress[0]));  // empty when it is no dotted address
    req->nMxIPAddresses = static_cast<int16_t>(n);
    return true;
}

bool reverse(TCPLIBRARY_STRUCTURE *block, TCPSESSION_STRUCTURE *session, SMTPSEND_STRUCTURE *req,
             const std::string &app) {
    std::string ip = field_text(req->szServerIP);
    copy_field(session->szHostAddress, req->szServerIP);
    Write_Log(format("VellorAPI [%s] - Calling gethostbyaddr() for [%s].", app.c_str(), ip.c_str()));
    if (!transport::lookup_name(block, session, req->szServer)) {
        close_down(block, app,
                   "VellorAPI [%s] - Winsock Session for DNS lookup - WSACleanup() - terminated successfully.",
                   "VellorAPI [%s] - Winsock Library for DNS lookup closed successfully.");
        return false;
    }
    return true;
}

}  // namespace

extern "C" VELLOR_API int32_t VELLOR_Perform_DNS_Lookup(const char *applicationName, SMTPSEND_STRUCTURE *request) {
    return vellor::guarded(-1, [&]() -> int32_t {
        if (!request) return -1;
        std::string app = text_or_empty(applicationName);
        TCPSESSION_STRUCTURE session;
        std::memset(&session, 0, sizeof session);
        if (empty(request->szServer) && empty(request->szServerIP)) {
            Write_Log(format("VellorAPI [%s] - No Server name or IP address received.", app.c_str()));
            request->nErrorCode = 905;
            return -1;
        }
        TCPLIBRARY_STRUCTURE block;
        std::memset(&block, 0, sizeof block);
        transport::library_start(&block, kAccess);
        Write_Log(format("VellorAPI [%s] - Winsock library initialized - WSAStartup() - for DNS lookup successfully.",
                         app.c_str()));
        transport::network_start(&block, 0);
        Write_Log(format("VellorAPI [%s] - Winsock Session for DNS lookup started successfully.", app.c_str()));
        bool ok = empty(request->szServer) ? reverse(&block, &session, request, app)
                                           : forward(&block, &session, request, app);
        if (!ok) {
            request->nErrorCode = 915;
            return -1;
        }
        close_down(&block, app,
                   "VellorAPI [%s] - Winsock Session for DNS lookup - WSACleanup() - terminated successfully.",
                   "VellorAPI [%s] - Winsock library for DNS lookup closed successfully.");
        return 0;
    });
}
