// Delivery status notifications (RFC 3461): the checks of the DSNNotify,
// DSNReturn and DSNEnvelopeId values, and the xtext form in which ENVID=
// and ORCPT= carry text. Pure text work.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace vellor::dsn {

// NOTIFY=: "NEVER" alone, or SUCCESS, FAILURE and DELAY (any case, each at
// most once) joined by commas; the value in upper case, or nullopt.
std::optional<std::string> notify_value(const std::string &text);
// RET=: "FULL" or "HDRS" (any case), in upper case, or nullopt.
std::optional<std::string> return_value(const std::string &text);
// ENVID=: printable ASCII (blanks included) whose xtext takes at most 100
// characters; the text as given, or nullopt.
std::optional<std::string> envelope_id(const std::string &text);

// xtext: "+", "=" and every byte outside "!" to "~" as "+" and two
// upper-case hex digits.
std::string xtext(std::string_view text);

}  // namespace vellor::dsn
