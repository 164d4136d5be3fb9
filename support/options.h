// The registry options, one reader per option, each opening the key, querying
// one value and closing the key again, so a change takes effect at the next
// use (the registry keeps the parsed file only while one stat shows it
// unchanged).
#pragma once
#include <cstdint>
#include <string>

namespace vellor::options {

int32_t use_log_file();           // "UseLogFile": 1 / 1
std::string log_file();           // "logfile": empty / empty
int32_t log_file_limit(int max);  // 1 "logfilemax": 0 / 10; 0 "logfilemin": 0 / 2
int32_t callback_mode();          // "callback": 0 / 0
std::string msg_extension();      // "MsgExtension": empty / empty
int32_t send_percent_sent();      // "SendPercentSent": 0 / 0
// Beyond the classic options, each off by default (DotStuffing and
// Pipelining are read with the message options below):
int32_t secure_connection();  // "SecureConnection": 0 / 0 (1 STARTTLS, 2 TLS from the start)
int32_t tls_verify_peer();    // "TLSVerifyPeer": 1 / 1
std::string tls_ca_file();    // "TLSCAFile": empty / empty
int32_t transcript();         // "Transcript": 0 / 0 (the dialogue as status 927)

// The log's options, read with one key opening for a flush of held lines
// and the size check after it.
struct LogOptions {
    int32_t use = 1;   // "UseLogFile": 1 / 1
    std::string file;  // "logfile": empty / empty
    int32_t max = 0;   // "logfilemax": 0 / 10
    int32_t min = 0;   // "logfilemin": 0 / 2
};
LogOptions log_options();

// The options one message's transaction uses, read with one key opening.
struct MessageOptions {
    int32_t send_percent_sent = 0, dot_stuffing = 0, transcript = 0, pipelining = 0;
};
MessageOptions message_options();

// DKIM signing, read once per send: all three set, or none.
struct DkimOptions {
    std::string domain;    // "DKIMDomain"
    std::string selector;  // "DKIMSelector"
    std::string key_file;  // "DKIMKeyFile": a PEM private key, RSA (2048 bits or more) or Ed25519
};
DkimOptions dkim_options();

}  // namespace vellor::options
