// The tool's exit statuses, by sysexits: 0 only when every message that was
// meant to go went.
#pragma once

namespace cli {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 64;        // the command line is wrong
constexpr int kExitData = 65;         // a bad address, an unreadable or unsendable message
constexpr int kExitNoInput = 66;      // a message path that is not there
constexpr int kExitUnavailable = 69;  // a permanent (5xx) refusal
constexpr int kExitSoftware = 70;     // an internal error of the tool
constexpr int kExitTempFail = 75;     // 4xx, connection refused, time-out, DNS failure
constexpr int kExitNoPerm = 77;       // the login refused, or never accepted

}  // namespace cli
