// VELLOR_Get_Host_Addresses: a host's addresses of either family, through
// the companion's lookup of both (KORVEX_ADDRESSES has the same layout).
#include <cstring>

#include "common/export_guard.h"
#include "transport/companion.h"
#include "vellorapi.h"

static_assert(sizeof(VELLOR_HOST_ADDRESSES) == sizeof(KORVEX_ADDRESSES));
static_assert(VELLOR_MAX_HOST_ADDRESSES == KORVEX_MAX_ADDRESSES && VELLOR_FAMILY_BOTH == KORVEX_FAMILY_BOTH);

extern "C" VELLOR_API int32_t VELLOR_Get_Host_Addresses(const char *hostName, int32_t family,
                                                        VELLOR_HOST_ADDRESSES *found) {
    return vellor::guarded(-1, [&]() -> int32_t {
        if (!found) return -1;
        std::memset(found, 0, sizeof *found);
        std::vector<std::string> addresses;
        if (!hostName || !vellor::transport::host_addresses(hostName, family, addresses)) return -1;
        for (const std::string &a : addresses) {  // each fits: the companion's entries are as large
            if (found->nAddresses == VELLOR_MAX_HOST_ADDRESSES || a.size() >= sizeof found->szAddress[0]) continue;
            std::memcpy(found->szAddress[found->nAddresses++], a.c_str(), a.size() + 1);
        }
        return found->nAddresses > 0 ? 0 : -1;
    });
}
