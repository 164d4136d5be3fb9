// Steps and reports shared by the MX delivery procedures.
#pragma once
#include <string>

#include "support/report.h"

namespace vellor {

// Size in bytes of the message file, 0 when it cannot be read (hMessage).
long message_size(SMTPSEND_STRUCTURE *r);
// szServerIP, or szServer when the address is empty.
std::string connect_target(SMTPSEND_STRUCTURE *r);
// Host-name lookup of szServer into szServerIP; false after the failure
// reports (906 stored), abort_line being the second log line.
bool resolve_domain(Call &c, const char *abort_line);
// "[n] - " prefixed (num may be empty) size and connection reports.
void report_size(Call &c, const std::string &num);
void report_connected(Call &c, const std::string &num);
// Reports a failed connection; stores nWinsockError and 907.
void connection_failed(Call &c, const std::string &num, bool last_unprefixed);

}  // namespace vellor
