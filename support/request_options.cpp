// The per-record option store; see request_options.h.
#include "support/request_options.h"

#include <strings.h>

#include <charconv>
#include <mutex>

#include "platform/record_table.h"
#include "support/dsn_values.h"
#include "support/report_texts.h"
#include "support/text.h"

namespace vellor::options {
namespace {

enum class Kind { Number, Choice, Text, Extension, Token, Mechanism, Family, Notify, Return, EnvelopeId };

struct Known {
    const char *name;
    Kind kind;
    int most = 0;  // a choice's highest value (from 0)
};

// Every options-file option, and the options a request alone can carry.
constexpr Known kKnown[] = {
    {"UseLogFile", Kind::Number},
    {"logfile", Kind::Text},
    {"logfilemax", Kind::Number},
    {"logfilemin", Kind::Number},
    {"callback", Kind::Number},
    {"MsgExtension", Kind::Extension},
    {"SendPercentSent", Kind::Number},
    {"DotStuffing", Kind::Number},
    {"Pipelining", Kind::Number},
    {"Chunking", Kind::Number},
    {"KeepConnection", Kind::Choice, 3600},  // at most options::kMostKeptSeconds
    {"Transcript", Kind::Number},
    {"QueueConnections", Kind::Choice, 64},  // at most options::kMostConnections
    {"SecureConnection", Kind::Choice, 4},
    {"TLSVerifyPeer", Kind::Choice, 1},
    {"TLSCAFile", Kind::Text},
    {"DNSSECTrusted", Kind::Choice, 1},
    {"MTASTSCacheFile", Kind::Text},
    {"DKIMDomain", Kind::Text},
    {"DKIMSelector", Kind::Text},
    {"DKIMKeyFile", Kind::Text},
    {"OAuth2Token", Kind::Token},
    {"AuthMechanism", Kind::Mechanism},
    {"AddressFamily", Kind::Family},
    {"SourceAddress", Kind::Text},
    {"DSNNotify", Kind::Notify},
    {"DSNReturn", Kind::Return},
    {"DSNEnvelopeId", Kind::EnvelopeId},
};

constexpr const char *kMechanisms[] = {"AUTO", "ANY", "LOGIN", "PLAIN", "XOAUTH2", "OAUTHBEARER"};
constexpr const char *kFamilies[] = {"auto", "4", "6", "any"};

// The name of NAMES that V is, without regard to case, in its listed spelling.
template <std::size_t N>
std::optional<std::string> listed(const char *const (&names)[N], const std::string &v) {
    for (const char *n : names)
        if (::strcasecmp(n, v.c_str()) == 0) return std::string(n);
    return std::nullopt;
}
constexpr std::size_t kExtensionMost = 11;  // szMsgExtension holds 11 characters

const Known *find_known(const std::string &name) {
    for (const Known &k : kKnown)
        if (::strcasecmp(k.name, name.c_str()) == 0) return &k;
    return nullptr;
}

bool decimal(const std::string &v, long long lo, long long hi) {
    long long n = 0;
    auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
    return ec == std::errc() && end == v.data() + v.size() && n >= lo && n <= hi;
}

bool one_line(const std::string &v) { return v.find_first_of("\r\n") == std::string::npos; }

bool visible_ascii(const std::string &v) {
    for (unsigned char c : v)
        if (c < 0x21 || c > 0x7e) return false;
    return true;
}

// The value as the store keeps it, or nullopt with the reason.
std::optional<std::string> checked(const Known &k, const std::string &v, std::string &why) {
    switch (k.kind) {
        case Kind::Number:
            if (decimal(v, 0, 2147483647)) return v;
            why = fill(texts::kTakesNumber, {v});
            return std::nullopt;
        case Kind::Choice:
            if (decimal(v, 0, k.most)) return std::to_string(std::stoi(v));
            why = fill(texts::kTakesUpTo, {std::to_string(k.most), v});
            return std::nullopt;
        case Kind::Text:
            if (one_line(v)) return v;
            why = texts::kTakesOneLine;
            return std::nullopt;
        case Kind::Extension:
            if (one_line(v) && v.size() <= kExtensionMost) return v;
            why = texts::kTakesExtension;
            return std::nullopt;
        case Kind::Token:
            if (visible_ascii(v)) return v;
            why = texts::kTakesToken;
            return std::nullopt;
        case Kind::Mechanism:
            if (auto m = listed(kMechanisms, v)) return m;
            why = fill(texts::kTakesMechanism, {v});
            return std::nullopt;
        case Kind::Family:
            if (auto f = listed(kFamilies, v)) return f;
            why = fill(texts::kTakesFamily, {v});
            return std::nullopt;
        case Kind::Notify:
            if (auto n = dsn::notify_value(v)) return n;
            why = fill(texts::kTakesNotify, {v});
            return std::nullopt;
        case Kind::Return:
            if (auto r = dsn::return_value(v)) return r;
            why = fill(texts::kTakesReturn, {v});
            return std::nullopt;
        case Kind::EnvelopeId:
            if (auto e = dsn::envelope_id(v)) return e;
            why = fill(texts::kTakesEnvelopeId, {v});
            return std::nullopt;
    }
    return std::nullopt;
}

// The login user a record's token is bound to, kept beside the options under
// a name no caller can set (no option name holds a blank).
constexpr const char *kTokenUser = "OAuth2Token user";

}  // namespace

std::optional<std::string> known_name(const std::string &name) {
    const Known *k = find_known(name);
    return k ? std::optional<std::string>(k->name) : std::nullopt;
}

std::optional<std::string> usable_value(const std::string &canonical_name, const std::string &value, std::string &why) {
    const Known *k = find_known(canonical_name);
    if (!k) return std::nullopt;
    return checked(*k, value, why);
}

bool set_request_option(const void *record, const std::string &name, const std::string &value, std::string &why,
                        const std::string &login_user) {
    const Known *k = find_known(name);
    if (!k) {
        why = fill(texts::kUnknownOption, {name});
        return false;
    }
    std::optional<std::string> kept;
    if (!value.empty() && !(kept = checked(*k, value, why))) {
        why = fill(texts::kOptionTakes, {k->name, why});
        return false;
    }
    platform::RecordTable &s = platform::record_table();
    std::lock_guard<std::mutex> g(s.mu);
    auto &values = s.records[record];
    if (!s.marks.count(record)) s.marks[record] = ++s.last_mark == 0 ? ++s.last_mark : s.last_mark;
    if (kept)
        values[k->name] = *kept;
    else
        values.erase(k->name);
    if (std::string(k->name) == "OAuth2Token") {  // a new token, or none: bound anew
        values.erase(kTokenUser);
        if (kept && !login_user.empty()) values[kTokenUser] = login_user;
    }
    if (values.empty()) s.records.erase(record);
    return true;
}

bool token_user_agrees(const void *record, const std::string &user) {
    platform::RecordTable &s = platform::record_table();
    std::lock_guard<std::mutex> g(s.mu);
    auto it = s.records.find(record);
    if (it == s.records.end() || !it->second.count("OAuth2Token") || user.empty()) return true;
    auto [bound, fresh] = it->second.try_emplace(kTokenUser, user);
    return fresh || bound->second == user;
}

void token_user_moved(const void *record, const std::string &from, const std::string &to) {
    platform::RecordTable &s = platform::record_table();
    std::lock_guard<std::mutex> g(s.mu);
    auto it = s.records.find(record);
    if (it == s.records.end()) return;
    auto bound = it->second.find(kTokenUser);
    if (bound != it->second.end() && bound->second == from) bound->second = to;
}

void forget_record(const void *record) {
    platform::RecordTable &s = platform::record_table();
    std::lock_guard<std::mutex> g(s.mu);
    s.records.erase(record);
    s.marks.erase(record);
}

uint32_t options_mark(const void *record) {
    platform::RecordTable &s = platform::record_table();
    std::lock_guard<std::mutex> g(s.mu);
    auto it = s.marks.find(record);
    return it == s.marks.end() ? 0 : it->second;
}

RequestValues values_of(const void *record) {
    platform::RecordTable &s = platform::record_table();
    std::lock_guard<std::mutex> g(s.mu);
    auto it = s.records.find(record);
    if (it == s.records.end()) return {};
    RequestValues own = it->second;
    own.erase(kTokenUser);
    return own;
}

const std::string *request_value(const RequestValues &own, const std::string &canonical_name) {
    auto it = own.find(canonical_name);
    return it == own.end() ? nullptr : &it->second;
}

}  // namespace vellor::options
