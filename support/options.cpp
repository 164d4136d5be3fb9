// Option readers over the registry (stand-in). Defaults: the first is the
// value when the key is missing, the second when the value is missing. A
// value larger than its buffer (more than 4 bytes for a number, 260 or 12 for
// a text) is treated as a missing value; the buffers are never enlarged.
// The security options are read by type: see MessageOptions.
#include "support/options.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/registry.h"
#include "support/report_texts.h"
#include "support/request_options.h"
#include "support/text.h"

namespace vellor::options {
namespace {

using namespace vellor::reg;

constexpr const char *kKey = "Software\\orvane\\vellorapi\\Options";
constexpr uint32_t kTextBuffer = 260;

// The record's value of a number option (checked decimal when it was set).
bool request_number(const RequestValues &own, const char *name, int32_t &out) {
    const std::string *v = request_value(own, name);
    if (!v) return false;
    out = static_cast<int32_t>(std::stol(*v));
    return true;
}

int32_t query_number(const RequestValues &own, HKEY key, const char *name, int32_t value_missing) {
    int32_t requested = 0;
    if (request_number(own, name, requested)) return requested;
    if (!key) return value_missing;
    uint8_t data[4] = {0, 0, 0, 0};
    uint32_t size = sizeof data;
    if (RegQueryValueExA(key, name, nullptr, nullptr, data, &size) != ERROR_SUCCESS) return value_missing;
    // Shorter data fills the low bytes of the zeroed variable.
    return static_cast<int32_t>(data[0] | (data[1] << 8) | (data[2] << 16) | (uint32_t(data[3]) << 24));
}

std::string query_text(const RequestValues &own, HKEY key, const char *name, uint32_t buffer_size) {
    if (const std::string *v = request_value(own, name)) return *v;
    if (!key) return {};
    char buf[kTextBuffer] = {0};
    uint32_t size = buffer_size;
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<uint8_t *>(buf), &size) != ERROR_SUCCESS)
        buf[0] = '\0';
    return std::string(buf, ::strnlen(buf, buffer_size));
}

// Reads with one opening of the key; `read` gets a null key when it cannot
// be opened (request values still apply; registry ones take their
// missing-key defaults, which `o` holds).
template <typename Options, typename Read>
Options read_together(Options o, Read read) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) key = nullptr;
    read(key, o);
    if (key) RegCloseKey(key);
    return o;
}

int32_t read_number(const RequestValues &own, const char *name, int32_t key_missing, int32_t value_missing) {
    return read_together(key_missing, [&](HKEY key, int32_t &v) {
        if (key)
            v = query_number(own, key, name, value_missing);
        else
            request_number(own, name, v);
    });
}

std::string read_text(const RequestValues &own, const char *name, uint32_t buffer_size) {
    return read_together(std::string(), [&](HKEY key, std::string &v) { v = query_text(own, key, name, buffer_size); });
}

// A registry value as stored: present or not, its type, its bytes.
struct Stored {
    bool present = false;
    uint32_t type = 0, size = 0;
    std::vector<uint8_t> bytes;
};

Stored query_stored(HKEY key, const char *name) {
    Stored s;
    if (!key) return s;
    uint32_t size = 0;
    long rc = RegQueryValueExA(key, name, nullptr, &s.type, nullptr, &size);
    if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA) return s;
    s.present = true;
    s.size = size;
    if (size > 0 && size <= 4096) {
        s.bytes.resize(size);
        if (RegQueryValueExA(key, name, nullptr, &s.type, s.bytes.data(), &size) != ERROR_SUCCESS) s.bytes.clear();
    }
    return s;
}

// How an unusable value reads in a report: its text, its number or its size.
std::string shown(const Stored &s) {
    if (s.type == REG_SZ || s.type == REG_EXPAND_SZ) {
        std::string text(s.bytes.begin(), s.bytes.end());
        text.resize(::strnlen(text.c_str(), text.size()));
        if (text.size() > 64) return fill(texts::kHoldsLongText, {std::to_string(text.size())});
        return fill(texts::kHoldsText, {text});
    }
    if (s.type == REG_DWORD && s.bytes.size() == 4)
        return fill(texts::kHoldsDword, {std::to_string(s.bytes[0] | (s.bytes[1] << 8) | (s.bytes[2] << 16) |
                                                        (uint32_t(s.bytes[3]) << 24))});
    return fill(texts::kHoldsBytes, {std::to_string(s.size), std::to_string(s.type)});
}

void note_unusable(MessageOptions &o, const char *name, const Stored &s, const char *wanted) {
    if (!o.unusable.empty()) return;  // the first one is named
    o.unusable = fill(texts::kOptionHolds, {name, shown(s), wanted});
}

// A security option whose line in the options file cannot be parsed (the
// file then opens as no key) is unusable too, never a default.
void unparsed(MessageOptions &o, const char *name, const char *wanted) {
    std::string written = RegUnparsedValue(kKey, name);
    if (written.empty()) return;
    if (written.size() > 64) written = fill(texts::kHoldsLongLine, {std::to_string(written.size())});
    if (o.unusable.empty()) o.unusable = fill(texts::kOptionHoldsUnread, {name, written, wanted});
}

// A security number: the record's value, else a dword of 4 bytes from 0 to
// `most` in the registry; anything else present is unusable.
int32_t secure_number(const RequestValues &own, HKEY key, const char *name, int32_t missing, int32_t most,
                      MessageOptions &o, const char *wanted) {
    int32_t requested = 0;
    if (request_number(own, name, requested)) return requested;
    Stored s = query_stored(key, name);
    if (!s.present) {
        unparsed(o, name, wanted);
        return missing;
    }
    uint32_t v =
        s.bytes.size() == 4 ? s.bytes[0] | (s.bytes[1] << 8) | (s.bytes[2] << 16) | (uint32_t(s.bytes[3]) << 24) : 0;
    if (s.type == REG_DWORD && s.bytes.size() == 4 && v <= static_cast<uint32_t>(most)) return static_cast<int32_t>(v);
    note_unusable(o, name, s, wanted);
    return missing;
}

// A security text: the record's value, else a text of the registry that
// fits its buffer; anything else present is unusable.
std::string secure_text(const RequestValues &own, HKEY key, const char *name, MessageOptions &o) {
    if (const std::string *v = request_value(own, name)) return *v;
    Stored s = query_stored(key, name);
    if (!s.present) {
        unparsed(o, name, texts::kWantedText);
        return {};
    }
    if ((s.type == REG_SZ || s.type == REG_EXPAND_SZ) && s.size <= kTextBuffer)
        return query_text(own, key, name, kTextBuffer);
    note_unusable(o, name, s, texts::kWantedText);
    return {};
}

std::string request_text(const RequestValues &own, const char *name) {
    const std::string *v = request_value(own, name);
    return v ? *v : std::string();
}

void read_dkim(const RequestValues &own, HKEY key, DkimOptions &d) {
    d.domain = query_text(own, key, "DKIMDomain", kTextBuffer);
    d.selector = query_text(own, key, "DKIMSelector", kTextBuffer);
    d.key_file = query_text(own, key, "DKIMKeyFile", kTextBuffer);
}

// The family a text names (empty: the default); false when it names none.
bool family_named(const std::string &text, Family &f) {
    static const std::pair<const char *, Family> kNames[] = {
        {"auto", Family::Auto}, {"4", Family::V4}, {"6", Family::V6}, {"any", Family::Any}};
    for (const auto &[name, value] : kNames)
        if (::strcasecmp(name, text.c_str()) == 0) {
            f = value;
            return true;
        }
    return text.empty();
}

// A DSN text: the record's value (checked when set), else the registry's,
// checked as a record's would be; one that fails is unusable.
std::string dsn_text(const RequestValues &own, HKEY key, const char *name, MessageOptions &o) {
    if (const std::string *v = request_value(own, name)) return *v;
    std::string text = secure_text(own, key, name, o), why;
    if (text.empty()) return text;
    if (std::optional<std::string> v = usable_value(name, text, why)) return *v;
    if (o.unusable.empty()) o.unusable = fill(texts::kOptionWhy, {name, why});
    return {};
}

}  // namespace

int32_t use_log_file(const RequestValues &own) { return read_number(own, "UseLogFile", 1, 1); }
std::string log_file(const RequestValues &own) { return read_text(own, "logfile", kTextBuffer); }
int32_t log_file_limit(const RequestValues &own, int max) {
    return max ? read_number(own, "logfilemax", 0, 10) : read_number(own, "logfilemin", 0, 2);
}
int32_t callback_mode(const RequestValues &own) { return read_number(own, "callback", 0, 0); }
std::string msg_extension(const RequestValues &own) { return read_text(own, "MsgExtension", 12); }
int32_t send_percent_sent(const RequestValues &own) { return read_number(own, "SendPercentSent", 0, 0); }
int32_t transcript(const RequestValues &own) { return read_number(own, "Transcript", 0, 0); }
int32_t queue_connections(const RequestValues &own) {
    int32_t n = read_number(own, "QueueConnections", 1, 1);
    return n < 1 ? 1 : n > kMostConnections ? kMostConnections : n;
}

LogOptions log_options(const RequestValues &own) {
    return read_together(LogOptions{}, [&](HKEY key, LogOptions &o) {
        o.use = query_number(own, key, "UseLogFile", key ? 1 : o.use);
        o.file = query_text(own, key, "logfile", kTextBuffer);
        o.max = query_number(own, key, "logfilemax", key ? 10 : o.max);
        o.min = query_number(own, key, "logfilemin", key ? 2 : o.min);
    });
}

DkimOptions dkim_options(const RequestValues &own) {
    return read_together(DkimOptions{}, [&](HKEY key, DkimOptions &d) { read_dkim(own, key, d); });
}

MessageOptions message_options(const RequestValues &own) {
    return read_together(MessageOptions{}, [&](HKEY key, MessageOptions &o) {
        o.send_percent_sent = query_number(own, key, "SendPercentSent", 0);
        o.dot_stuffing = query_number(own, key, "DotStuffing", 0);
        o.transcript = query_number(own, key, "Transcript", 0);
        o.pipelining = query_number(own, key, "Pipelining", 0);
        o.chunking = query_number(own, key, "Chunking", 0);
        o.keep_connection = std::clamp(query_number(own, key, "KeepConnection", 0), 0, kMostKeptSeconds);
        o.secure_connection = secure_number(own, key, "SecureConnection", 0, 4, o, texts::kWantedUpTo4);
        o.tls_verify_peer = secure_number(own, key, "TLSVerifyPeer", 1, 1, o, texts::kWantedFlag);
        o.tls_ca_file = secure_text(own, key, "TLSCAFile", o);
        o.dnssec_trusted = secure_number(own, key, "DNSSECTrusted", 0, 1, o, texts::kWantedFlag);
        o.mta_sts_cache_file = secure_text(own, key, "MTASTSCacheFile", o);
        o.oauth2_token = request_text(own, "OAuth2Token");
        o.auth_mechanism = request_text(own, "AuthMechanism");
        read_dkim(own, key, o.dkim);
        o.dsn.notify = dsn_text(own, key, "DSNNotify", o);
        o.dsn.ret = dsn_text(own, key, "DSNReturn", o);
        o.dsn.envelope_id = dsn_text(own, key, "DSNEnvelopeId", o);
    });
}

NetworkOptions network_options(const RequestValues &own) {
    return read_together(NetworkOptions{}, [&](HKEY key, NetworkOptions &o) {
        MessageOptions checks;
        std::string family = secure_text(own, key, "AddressFamily", checks);
        o.source = secure_text(own, key, "SourceAddress", checks);
        o.unusable = checks.unusable;
        if (!family_named(family, o.family) && o.unusable.empty()) o.unusable = fill(texts::kFamilyHolds, {family});
    });
}

}  // namespace vellor::options
