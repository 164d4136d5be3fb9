// VELLOR_resolve_mx_domain: MX query and, when asked, the resolution of
// every exchanger into a 40-entry work list of which the first 20 are kept.
// -5 empty domain (or no MX record and no host); -6 a domain made only of
// digits and dots, with no query made; -1..-4 the query's own failure.
#include <cstring>

#include "common/export_guard.h"
#include "resolve/get_mx_servers.h"
#include "resolve/mx_host_loop.h"
#include "support/text.h"

using namespace vellor;
using namespace vellor::resolve;

extern "C" VELLOR_API int32_t VELLOR_resolve_mx_domain(const char *domain, const char *dnsServer, VALIDMXIPS *validIPs,
                                                       int32_t, int32_t resolveAddresses) {
    return vellor::guarded(-1, [&]() -> int32_t {
        std::string name = text_or_empty(domain);
        if (name.empty()) return -5;
        if (name.find_first_not_of("0123456789.") == std::string::npos) return -6;
        std::string server = text_or_empty(dnsServer);
        Deadline deadline = resolution_deadline();
        MXQUERY_STRUCTURE mx;
        std::memset(&mx, 0, sizeof mx);
        int32_t status = get_mx_servers(name.c_str(), &mx, server.c_str(), server.empty() ? 1 : 0);
        if (mx.nType != 15) {
            if (status >= -4 && status <= -1) return status;
            if (status == -9 && mx.nMxServers == 0) return -5;
            return 0;
        }
        if (status != 1 || !validIPs) return 0;
        int hosts = mx_count(mx);
        if (resolveAddresses) {
            if (hosts <= 0) return 0;
            std::vector<MxEntry> work;
            host_resolution_loop(mx, "VELLOR_MX_RESOLVE", 40, FailedHost::OneEntry, work, deadline);
            std::size_t n = std::min<std::size_t>(work.size(), VELLOR_MAX_VALID_MX);
            validIPs->nValidIPs = 0;
            for (std::size_t i = 0; i < n; ++i) put_entry(*validIPs, static_cast<int>(i), work[i]);
            validIPs->nValidIPs = static_cast<int32_t>(n);
            return 0;
        }
        validIPs->nValidIPs = 0;
        int listed = 0;
        for (int i = 0; i < hosts; ++i) {
            if (!set_field(validIPs->szMxHost[listed], mx_host(mx, i))) continue;  // a name too long is left out
            validIPs->nPreference[listed++] = mx.mx[i].nPreference;
        }
        validIPs->nValidIPs = listed;
        return 0;
    });
}
