// The extensions a server lists in its EHLO reply: the first word of every
// line after the greeting line, in upper case ("250-STARTTLS" gives
// "STARTTLS", "250 AUTH LOGIN PLAIN" gives "AUTH"). Pure text work.
#pragma once
#include <set>
#include <string>

namespace vellor::smtp {

std::set<std::string> ehlo_extensions(const std::string &reply);

}  // namespace vellor::smtp
