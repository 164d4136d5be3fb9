// The options, each read from the registry (the options file on Linux) by
// opening the key, querying and closing it again, so a change takes effect
// at the next use (the registry keeps the parsed file only while one stat
// shows it unchanged). Each reader takes the values of the send's record
// (VELLOR_Set_Request_Option, see support/request_options.h; none outside a
// send), and a value there is taken before the registry's; request values
// were checked when they were set.
#pragma once
#include <cstdint>
#include <string>

#include "support/request_options.h"

namespace vellor::options {

// Defaults: missing key / missing value.
int32_t use_log_file(const RequestValues &own);             // "UseLogFile": 1 / 1
std::string log_file(const RequestValues &own);             // "logfile": empty / empty
int32_t log_file_limit(const RequestValues &own, int max);  // 1 "logfilemax": 0 / 10; 0 "logfilemin": 0 / 2
int32_t callback_mode(const RequestValues &own);            // "callback": 0 / 0
std::string msg_extension(const RequestValues &own);        // "MsgExtension": empty / empty
int32_t send_percent_sent(const RequestValues &own);        // "SendPercentSent": 0 / 0
int32_t transcript(const RequestValues &own);               // "Transcript": 0 / 0 (the dialogue as status 927)
// "QueueConnections": 1 / 1, the connections a queue pass sends over at
// once; 0 or less counts as 1, more than kMostConnections as that many.
constexpr int32_t kMostConnections = 64;
// The KeepConnection option's longest idle limit, in seconds (a larger
// value in the options file counts as this; a request refuses it).
constexpr int32_t kMostKeptSeconds = 3600;
int32_t queue_connections(const RequestValues &own);

// The log's options, read with one key opening for a flush of held lines
// and the size check after it.
struct LogOptions {
    int32_t use = 1;   // "UseLogFile": 1 / 1
    std::string file;  // "logfile": empty / empty
    int32_t max = 0;   // "logfilemax": 0 / 10
    int32_t min = 0;   // "logfilemin": 0 / 2
};
LogOptions log_options(const RequestValues &own);

// DKIM signing: the three texts, each from the running send's record, else
// the registry (empty when neither has it). Signing is asked for when all
// three are set. Read with the message options below (MessageOptions::dkim)
// or alone by dkim_options().
struct DkimOptions {
    std::string domain;    // "DKIMDomain"
    std::string selector;  // "DKIMSelector"
    std::string key_file;  // "DKIMKeyFile": a PEM private key, RSA (2048 bits or more) or Ed25519
};
DkimOptions dkim_options(const RequestValues &own);

// Delivery status notifications (RFC 3461), each empty when not asked for:
// "DSNNotify" (NEVER, or SUCCESS, FAILURE, DELAY joined by commas, in upper
// case), "DSNReturn" (FULL or HDRS), "DSNEnvelopeId" (printable ASCII).
struct DsnOptions {
    std::string notify, ret, envelope_id;
    bool asked() const { return !notify.empty() || !ret.empty() || !envelope_id.empty(); }
};

// Every option one transaction uses, read by type with one key opening,
// once when the transaction starts (or once per queue pass). The security
// options are read strictly: a value present but unusable (text where a
// dword belongs, a number out of range, a wrong length) is named in
// `unusable`, and the send fails before connecting (code 907).
struct MessageOptions {
    int32_t send_percent_sent = 0, dot_stuffing = 0, transcript = 0, pipelining = 0;
    int32_t chunking = 0;         // "Chunking": BDAT to a server offering CHUNKING (smtp/chunked_body.cpp)
    int32_t keep_connection = 0;  // "KeepConnection": seconds a relay session stays open for a later call
    // "SecureConnection" dword 0, 1 (STARTTLS), 2 (TLS at once), 3
    // (opportunistic), 4 (by MX: DANE, else MTA-STS, else opportunistic)
    int32_t secure_connection = 0;
    int32_t dnssec_trusted = 0;      // "DNSSECTrusted" dword 0 or 1: the AD bit of any DNS server is trusted
    std::string mta_sts_cache_file;  // "MTASTSCacheFile" text: where MTA-STS policies are kept
    int32_t tls_verify_peer = 1;     // "TLSVerifyPeer" dword 0 or 1
    std::string tls_ca_file;         // "TLSCAFile" text
    // The record's own (never from the registry): an OAuth 2.0 bearer token,
    // and "AUTO" (or empty), "LOGIN", "PLAIN", "XOAUTH2" or "OAUTHBEARER".
    std::string oauth2_token, auth_mechanism;
    DkimOptions dkim;
    DsnOptions dsn;
    std::string unusable;  // empty, or "the SecureConnection option holds text "1"; ..."
    // A session that greets with EHLO (and a login that chooses its
    // mechanism from the server's AUTH list): any of SecureConnection,
    // Pipelining, Chunking, a token, a mechanism or a DSN option set.
    bool extended() const {
        return secure_connection != 0 || pipelining != 0 || chunking != 0 || !oauth2_token.empty() || dsn.asked() ||
               (!auth_mechanism.empty() && auth_mechanism != "AUTO");
    }
};
MessageOptions message_options(const RequestValues &own);

// How a send reaches its servers, read once per send. "AddressFamily" text:
// "auto" (the default: IPv4 first as always, a name's IPv6 addresses when
// its IPv4 ones are missing or fail), "4" (IPv4 only), "6" (IPv6 only),
// "any" (both raced, IPv6 first, RFC 8305). "SourceAddress" text: the local
// IPv4 or IPv6 address every connection is bound to (empty: none). A value
// present but unusable is named in `unusable` (the send fails with 907).
enum class Family { Auto, V4, V6, Any };
struct NetworkOptions {
    Family family = Family::Auto;
    std::string source;
    std::string unusable;
};
NetworkOptions network_options(const RequestValues &own);

}  // namespace vellor::options
