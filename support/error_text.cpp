// Error codes to texts: a dense table for 901 to 917, one text beyond the
// classic set (930, a DKIM key that cannot be used), the unknown-code text
// for everything else (0, negative values, 918, 919 and the rest).
#include "support/error_text.h"

#include "vellorapi.h"

namespace {

const char *const kTexts[17] = {
    "VellorAPI - Server refused HELO protocol greeting, possibly no sender's domain name provided.",
    "VellorAPI - Server refused to accept senders email address.",
    "VellorAPI - Server refused to accept recipient email address.",
    "VellorAPI - Server refused to accept message data.",
    "VellorAPI - Server name cannot be recognized - possibly badly formatted name.",
    "VellorAPI - Server refused to accept recipient mail domain name.",
    "VellorAPI - Server could not be connected to",
    "VellorAPI - No valid recipient email addresses identified",
    "VellorAPI - Server refused to accept domain name provided",
    "VellorAPI - No message data was identified to be sent",
    "VellorAPI - No recipient address identified",
    "VellorAPI - Recipient address in invalid",
    "VellorAPI - Memory error, unable to allocate global memory",
    "VellorAPI - Memory error, unable to lock global memory",
    "VellorAPI - Unable to resolve server name to IP  address",
    "VellorAPI - Unable to open a socket for connection",
    "VellorAPI - Authentication details (AUTH LOGIN) refused by server",
};
constexpr const char *kDkimKey = "VellorAPI - DKIM signing key cannot be read or used";
constexpr const char *kUnknown = "VellorAPI - Unknown error code - please report to developers";

}  // namespace

namespace vellor {

const char *error_text(int code) {
    if (code == VELLOR_ERR_DKIM_KEY) return kDkimKey;
    return (code >= 901 && code <= 917) ? kTexts[code - 901] : kUnknown;
}

}  // namespace vellor
