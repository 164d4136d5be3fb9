// VELLOR_Get_Mx_Servers: one MX query through the companion; the status the
// companion leaves is the result (1 success; -1, -2, -3, -4, -9 failures).
// A domain in another script is asked for by its A-labels.
#include "common/export_guard.h"
#include "resolve/idn.h"
#include "transport/companion.h"
#include "vellorapi.h"

extern "C" VELLOR_API int32_t VELLOR_Get_Mx_Servers(const char *domain, MXQUERY_STRUCTURE *result,
                                                    const char *dnsServer, int32_t useDefaultServer) {
    return vellor::guarded(-1, [&]() -> int32_t {
        std::string name = vellor::idn::to_ascii(domain ? domain : "");
        return vellor::transport::mx_query(name.c_str(), result, dnsServer ? dnsServer : "", useDefaultServer);
    });
}
