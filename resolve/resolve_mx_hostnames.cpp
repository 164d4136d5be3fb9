// VELLOR_Resolve_MX_Hostnames_To_Ipaddresses: the exchangers of an earlier
// MX answer resolved to addresses, only addresses actually found, written
// from entry 0 while nValidIPs grows by the number added (so a second call
// on an uncleared list doubles the count).
#include <algorithm>

#include "common/export_guard.h"
#include "resolve/mx_host_loop.h"

using namespace vellor::resolve;

extern "C" VELLOR_API void VELLOR_Resolve_MX_Hostnames_To_Ipaddresses(MXQUERY_STRUCTURE *mxResult,
                                                                      VALIDMXIPS *validIPs) {
    vellor::guarded_void([&] {
        if (!mxResult || !validIPs) return;
        std::vector<MxEntry> entries;
        host_resolution_loop(*mxResult, "MX_HOST_RESOLUTION", VELLOR_MAX_VALID_MX, FailedHost::Nothing, entries,
                             resolution_deadline());
        for (std::size_t k = 0; k < entries.size(); ++k) put_entry(*validIPs, static_cast<int>(k), entries[k]);
        validIPs->nValidIPs += static_cast<int32_t>(entries.size());
    });
}
