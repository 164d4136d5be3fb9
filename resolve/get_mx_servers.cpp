// VELLOR_Get_Mx_Servers: one MX query through the companion; the status the
// companion leaves is the result (1 success; -1, -2, -3, -4, -9 failures).
// A domain in another script is asked for by its A-labels.
#include "resolve/get_mx_servers.h"

#include "common/export_guard.h"
#include "resolve/idn.h"
#include "transport/companion.h"

namespace vellor {

int32_t get_mx_servers(const char *domain, MXQUERY_STRUCTURE *result, const char *dnsServer, int32_t useDefaultServer) {
    std::string name = idn::to_ascii(domain ? domain : "");
    return transport::mx_query(name.c_str(), result, dnsServer ? dnsServer : "", useDefaultServer);
}

}  // namespace vellor

extern "C" VELLOR_API int32_t VELLOR_Get_Mx_Servers(const char *domain, MXQUERY_STRUCTURE *result,
                                                    const char *dnsServer, int32_t useDefaultServer) {
    return vellor::guarded(
        -1, [&]() -> int32_t { return vellor::get_mx_servers(domain, result, dnsServer, useDefaultServer); });
}
