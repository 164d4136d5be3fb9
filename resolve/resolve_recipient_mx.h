// The send path's MX resolver: the mail exchangers of the domain held in the
// request's szServer, resolved to addresses, the first eight copied into
// szMxIPAddress.
#pragma once
#include "vellorapi.h"

namespace vellor {

void resolve_recipient_mx(SMTPSEND_STRUCTURE *request, MXQUERY_STRUCTURE *mxResult, VALIDMXIPS *validIPs,
                          char *dnsServer);

}  // namespace vellor
