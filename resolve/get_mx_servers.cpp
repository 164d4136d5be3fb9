// VELLOR_Get_Mx_Servers: one MX query through the companion; the status the
// companion leaves is the result (1 success; -1, -2, -3, -4, -9 failures).
#include "common/export_guard.h"
#include "transport/companion.h"
#include "vellorapi.h"

extern "C" VELLOR_API int32_t VELLOR_Get_Mx_Servers(const char *domain, MXQUERY_STRUCTURE *result,
                                                    const char *dnsServer, int32_t useDefaultServer) {
    return vellor::guarded(-1, [&]() -> int32_t {
        return vellor::transport::mx_query(domain ? domain : "", result, dnsServer ? dnsServer : "", useDefaultServer);
    });
}
