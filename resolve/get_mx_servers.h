// One MX query, as VELLOR_Get_Mx_Servers makes it, for the library's own
// resolvers (which never call the export itself).
#pragma once
#include <cstdint>

#include "vellorapi.h"

namespace vellor {

// The status the companion leaves: 1 success; -1, -2, -3, -4, -9 failures.
int32_t get_mx_servers(const char *domain, MXQUERY_STRUCTURE *result, const char *dnsServer, int32_t useDefaultServer);

}  // namespace vellor
