// Send-path MX resolver. Entries keep the answer's order; the copy into the
// request stops at the first entry whose address is empty.
#include "resolve/resolve_recipient_mx.h"

#include "resolve/get_mx_servers.h"
#include "resolve/mx_host_loop.h"
#include "support/text.h"

namespace vellor {

using namespace resolve;

void resolve_recipient_mx(SMTPSEND_STRUCTURE *request, MXQUERY_STRUCTURE *mxResult, VALIDMXIPS *validIPs,
                          char *dnsServer) {
    std::string domain = field_text(request->szServer);
    Deadline deadline = resolution_deadline();
    int32_t status = get_mx_servers(domain.c_str(), mxResult, dnsServer, 1);
    if (mxResult->nType != 15 || status != 1) return;
    std::vector<MxEntry> entries;
    host_resolution_loop(*mxResult, "VELLOR_MX_RESOLVE", VELLOR_MAX_VALID_MX, FailedHost::OneEntry, entries, deadline);
    for (std::size_t i = 0; i < entries.size(); ++i) put_entry(*validIPs, static_cast<int>(i), entries[i]);
    validIPs->nValidIPs = static_cast<int32_t>(entries.size());
    int copied = 0;
    for (; copied < 8 && copied < validIPs->nValidIPs; ++copied) {
        std::string addr = field_text(validIPs->szIPAddress[copied]);
        if (addr.empty()) break;
        if (!set_field(request->szMxIPAddress[copied], addr)) break;
    }
    request->nMxIPAddresses = static_cast<int16_t>(copied);
}

}  // namespace vellor
