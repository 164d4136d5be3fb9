// VELLOR_Perform_DNS_Lookup: a forward lookup of szServer (all addresses,
// at most 8, into szMxIPAddress, the first into szServerIP) or, when
// szServer is empty, a reverse lookup of szServerIP into szServer. Its own
// companion block and session record (transport::HostLookup), access name
// "VELLOR_WINSOCK_ACCESS".
#include <cstring>

#include "common/export_guard.h"
#include "support/report.h"
#include "support/report_texts.h"
#include "support/text.h"
#include "transport/companion.h"
#include "vellorapi.h"

using namespace vellor;

namespace {

constexpr const char *kAccess = "VELLOR_WINSOCK_ACCESS";

void close_down(transport::HostLookup &lookup, const Reporter &rep, const char *stopLine, const char *closeLine) {
    lookup.stop_network();
    rep.report(Where::log_prefixed, 0, 0, stopLine);
    lookup.close(kAccess);
    rep.report(Where::log_prefixed, 0, 0, closeLine);
}

bool forward(transport::HostLookup &lookup, SMTPSEND_STRUCTURE *req, const Reporter &rep) {
    std::string server = field_text(req->szServer);
    rep.report(Where::log_prefixed, 0, 0, fill(texts::kCallingGethostbyname, {server}));
    if (!lookup.found(server)) {
        close_down(lookup, rep, texts::kDnsWinsockClosed, texts::kDnsLibraryClosedLower);
        return false;
    }
    int n = 0;  // a dotted address always fits; anything longer is not copied
    while (n < std::min<int>(lookup.count(), 8) && set_field(req->szMxIPAddress[n], lookup.address(n))) ++n;
    (void)set_field(req->szServerIP, lookup.address(0));  // empty when it is no dotted address
    req->nMxIPAddresses = static_cast<int16_t>(n);
    return true;
}

bool reverse(transport::HostLookup &lookup, SMTPSEND_STRUCTURE *req, const Reporter &rep) {
    std::string ip = field_text(req->szServerIP);
    rep.report(Where::log_prefixed, 0, 0, fill(texts::kCallingGethostbyaddr, {ip}));
    if (!lookup.name_of(ip, req->szServer)) {
        close_down(lookup, rep, texts::kDnsSessionCleanup, texts::kDnsLibraryClosed);
        return false;
    }
    return true;
}

}  // namespace

extern "C" VELLOR_API int32_t VELLOR_Perform_DNS_Lookup(const char *applicationName, SMTPSEND_STRUCTURE *request) {
    return vellor::guarded(-1, [&]() -> int32_t {
        if (!request) return -1;
        Reporter rep;
        rep.app = text_or_empty(applicationName);
        if (empty(request->szServer) && empty(request->szServerIP)) {
            rep.report(Where::log_prefixed, 0, 0, texts::kNoServerOrAddress);
            request->nErrorCode = 905;
            return -1;
        }
        transport::HostLookup lookup(kAccess);
        rep.report(Where::log_prefixed, 0, 0, texts::kDnsWinsockStarted);
        lookup.start_network(0);
        rep.report(Where::log_prefixed, 0, 0, texts::kDnsSessionStarted);
        bool ok = empty(request->szServer) ? reverse(lookup, request, rep) : forward(lookup, request, rep);
        if (!ok) {
            request->nErrorCode = 915;
            return -1;
        }
        close_down(lookup, rep, texts::kDnsSessionCleanup, texts::kDnsLibraryClosedLower);
        return 0;
    });
}
