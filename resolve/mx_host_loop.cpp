// Host resolution loop over an MX answer.
#include "resolve/mx_host_loop.h"

#include <algorithm>
#include <cstring>

#include "support/text.h"
#include "transport/companion.h"

namespace vellor::resolve {

int mx_count(const MXQUERY_STRUCTURE &mx) { return std::clamp<int32_t>(mx.nMxServers, 0, KORVEX_MAX_MX); }

std::string mx_host(const MXQUERY_STRUCTURE &mx, int i) { return field_text(mx.mx[i].szMxHost); }

void put_entry(VALIDMXIPS &list, int i, const MxEntry &e) {
    // An address is at most 23 characters; a name too long is left empty.
    static_assert(sizeof list.szIPAddress[0] >= transport::kLookupAddressChars);
    (void)set_field(list.szIPAddress[i], e.address);
    (void)set_field(list.szMxHost[i], e.host);
    list.nPreference[i] = e.preference;
}

Deadline resolution_deadline() {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(transport::timeout_ms());
}

void host_resolution_loop(const MXQUERY_STRUCTURE &mx, const char *accessName, std::size_t limit, FailedHost mode,
                          std::vector<MxEntry> &out, Deadline deadline) {
    int hosts = mx_count(mx);
    if (hosts <= 0) return;
    transport::HostLookup lookups(accessName);
    std::size_t added = 0;
    for (int i = 0; i < hosts && added < limit && std::chrono::steady_clock::now() < deadline; ++i) {
        std::string host = mx_host(mx, i);
        int32_t pref = mx.mx[i].nPreference;
        int n = std::min<int>(lookups.lookup(host), 8);
        if (n >= 2) {
            for (int j = 0; j < n && added < limit; ++j, ++added) out.push_back({host, lookups.address(j), pref});
        } else if (n == 1 || mode == FailedHost::OneEntry) {
            out.push_back({host, lookups.address(0), pref});
            ++added;
        }
    }
}

}  // namespace vellor::resolve
