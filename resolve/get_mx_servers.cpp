// VELLOR_Get_Mx_Servers: one MX query through the companion; the status the
// companion leaves is the result (1 success; -1, -2, -3, -4, -9 failures).
#include "common/export_guard.h"
#include "vellorapi.h"

extern "C" VELLOR_API int32_t VELLOR_Get_Mx_Servers(const char *domain, MXQUERY_STRUCTURE *result,
                                                    const char *dnsServer, int32_t useDefaultServer) {
    return vellor::guarded(-1, [&]() -> int32_t {
        int32_t status = 0;
        KorvexAPI_Dns_Get_Mx_Server(domain ? domain : "", result, &status, dnsServer ? dnsServer : "",
                                    useDefaultServer);
        return status;
    });
}
