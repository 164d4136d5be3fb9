// VELLOR_Get_Default_Dns_Server: the companion's answer passed through
// unchanged (buffer of at least 24 characters; 0 known, -1 none).
#include "common/export_guard.h"
#include "transport/companion.h"
#include "vellorapi.h"

extern "C" VELLOR_API int32_t VELLOR_Get_Default_Dns_Server(char *buffer) {
    return vellor::guarded(-1, [&]() -> int32_t { return vellor::transport::default_dns_server(buffer); });
}
