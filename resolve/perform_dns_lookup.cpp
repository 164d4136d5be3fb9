// VELLOR_Perform_DNS_Lookup: a forward lookup of szServer (all addresses,
// at most 8, into szMxIPAddress, the first into szServerIP) or, when
// szServer is empty, a reverse lookup of szServerIP into szServer. Its own
// companion block and session record (transport::HostLookup), access name
// "VELLOR_WINSOCK_ACCESS".
#include <cstring>

#include "common/export_guard.h"
#include "support/log_file.h"
#include "support/text.h"
#include "transport/companion.h"
#include "vellorapi.h"

using namespace vellor;

namespace {

constexpr const char *kAccess = "VELLOR_WINSOCK_ACCESS";

void close_down(transport::HostLookup &lookup, const std::string &app, const char *stopLine, const char *closeLine) {
    lookup.stop_network();
    Write_Log(format(stopLine, app.c_str()));
    lookup.close(kAccess);
    Write_Log(format(closeLine, app.c_str()));
}

bool forward(transport::HostLookup &lookup, SMTPSEND_STRUCTURE *req, const std::string &app) {
    std::string server = field_text(req->szServer);
    Write_Log(format("VellorAPI [%s] - Calling gethostbyname() for [%s].", app.c_str(), server.c_str()));
    if (!lookup.found(server)) {
        close_down(lookup, app, "VellorAPI [%s] - Winsock for DNS lookup closed successfully.",
                   "VellorAPI [%s] - Winsock library for DNS lookup closed successfully.");
        return false;
    }
    int n = 0;  // a dotted address always fits; anything longer is not copied
    while (n < std::min<int>(lookup.count(), 8) && set_field(req->szMxIPAddress[n], lookup.address(n))) ++n;
    (void)set_field(req->szServerIP, lookup.address(0));  // empty when it is no dotted address
    req->nMxIPAddresses = static_cast<int16_t>(n);
    return true;
}

bool reverse(transport::HostLookup &lookup, SMTPSEND_STRUCTURE *req, const std::string &app) {
    std::string ip = field_text(req->szServerIP);
    Write_Log(format("VellorAPI [%s] - Calling gethostbyaddr() for [%s].", app.c_str(), ip.c_str()));
    if (!lookup.name_of(ip, req->szServer)) {
        close_down(lookup, app,
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
        if (empty(request->szServer) && empty(request->szServerIP)) {
            Write_Log(format("VellorAPI [%s] - No Server name or IP address received.", app.c_str()));
            request->nErrorCode = 905;
            return -1;
        }
        transport::HostLookup lookup(kAccess);
        Write_Log(format("VellorAPI [%s] - Winsock library initialized - WSAStartup() - for DNS lookup successfully.",
                         app.c_str()));
        lookup.start_network(0);
        Write_Log(format("VellorAPI [%s] - Winsock Session for DNS lookup started successfully.", app.c_str()));
        bool ok = empty(request->szServer) ? reverse(lookup, request, app) : forward(lookup, request, app);
        if (!ok) {
            request->nErrorCode = 915;
            return -1;
        }
        close_down(lookup, app,
                   "VellorAPI [%s] - Winsock Session for DNS lookup - WSACleanup() - terminated successfully.",
                   "VellorAPI [%s] - Winsock library for DNS lookup closed successfully.");
        return 0;
    });
}
