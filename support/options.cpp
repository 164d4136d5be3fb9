// Option readers over the registry stand-in. Defaults: the first is the
// value when the key is missing, the second when the value is missing. A
// value larger than its buffer (more than 4 bytes for a number, 260 or 12 for
// a text) is treated as a missing value; the buffers are never enlarged.
#include "support/options.h"

#include <cstring>

#include "platform/registry.h"

namespace vellor::options {
namespace {

using namespace vellor::reg;

constexpr const char *kKey = "Software\\orvane\\vellorapi\\Options";

int32_t query_number(HKEY key, const char *name, int32_t value_missing) {
    uint8_t data[4] = {0, 0, 0, 0};
    uint32_t size = sizeof data;
    if (RegQueryValueExA(key, name, nullptr, nullptr, data, &size) != ERROR_SUCCESS) return value_missing;
    // Shorter data fills the low bytes of the zeroed variable.
    return static_cast<int32_t>(data[0] | (data[1] << 8) | (data[2] << 16) | (uint32_t(data[3]) << 24));
}

int32_t read_number(const char *name, int32_t key_missing, int32_t value_missing) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return key_missing;
    int32_t value = query_number(key, name, value_missing);
    RegCloseKey(key);
    return value;
}

std::string query_text(HKEY key, const char *name, uint32_t buffer_size) {
    char buf[260] = {0};
    uint32_t size = buffer_size;
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<uint8_t *>(buf), &size) != ERROR_SUCCESS)
        buf[0] = '\0';
    return std::string(buf, ::strnlen(buf, buffer_size));
}

std::string read_text(const char *name, uint32_t buffer_size) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return {};
    std::string text = query_text(key, name, buffer_size);
    RegCloseKey(key);
    return text;
}

}  // namespace

int32_t use_log_file() { return read_number("UseLogFile", 1, 1); }
std::string log_file() { return read_text("logfile", 260); }
int32_t log_file_limit(int max) { return max ? read_number("logfilemax", 0, 10) : read_number("logfilemin", 0, 2); }
int32_t callback_mode() { return read_number("callback", 0, 0); }
std::string msg_extension() { return read_text("MsgExtension", 12); }
int32_t send_percent_sent() { return read_number("SendPercentSent", 0, 0); }
int32_t secure_connection() { return read_number("SecureConnection", 0, 0); }
int32_t tls_verify_peer() { return read_number("TLSVerifyPeer", 1, 1); }
std::string tls_ca_file() { return read_text("TLSCAFile", 260); }
int32_t transcript() { return read_number("Transcript", 0, 0); }

namespace {
// Several values read with one opening of the key; `o` keeps its
// missing-key defaults when the key cannot be opened.
template <typename Options, typename Read>
Options read_together(Options o, Read read) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return o;
    read(key, o);
    RegCloseKey(key);
    return o;
}
}  // namespace

LogOptions log_options() {
    return read_together(LogOptions{}, [](HKEY key, LogOptions &o) {
        o.use = query_number(key, "UseLogFile", 1);
        o.file = query_text(key, "logfile", 260);
        o.max = query_number(key, "logfilemax", 10);
        o.min = query_number(key, "logfilemin", 2);
    });
}

MessageOptions message_options() {
    return read_together(MessageOptions{}, [](HKEY key, MessageOptions &o) {
        o.send_percent_sent = query_number(key, "SendPercentSent", 0);
        o.dot_stuffing = query_number(key, "DotStuffing", 0);
        o.transcript = query_number(key, "Transcript", 0);
        o.pipelining = query_number(key, "Pipelining", 0);
    });
}

DkimOptions dkim_options() {
    return read_together(DkimOptions{}, [](HKEY key, DkimOptions &o) {
        o.domain = query_text(key, "DKIMDomain", 260);
        o.selector = query_text(key, "DKIMSelector", 260);
        o.key_file = query_text(key, "DKIMKeyFile", 260);
    });
}

}  // namespace vellor::options
