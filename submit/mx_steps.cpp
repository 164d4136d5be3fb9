// Steps and reports shared by the MX delivery procedures: the message size
// shown in texts, the host-name lookup of a recipient's domain, and the
// connection reports.
#include "submit/mx_steps.h"

#include "submit/message_turn.h"

#include <algorithm>
#include <map>
#include <set>

#include "msgfiles/message_details.h"
#include "platform/files.h"
#include "resolve/address_choice.h"
#include "resolve/dane_lookup.h"
#include "resolve/idn.h"
#include "resolve/resolve_recipient_mx.h"
#include "smtp/transaction.h"
#include "submit/exchanger_security.h"
#include "submit/message_in_hand.h"
#include "support/address_literal.h"
#include "support/text.h"
#include "transport/companion.h"
#include "support/report_texts.h"

namespace vellor {

long message_size(const Delivery &c) {
    int64_t size = 0;
    return files::file_size(c.hand.file, size) ? static_cast<long>(size) : 0;
}

std::string connect_target(const Delivery &c) { return c.hand.server_ip.empty() ? c.hand.server : c.hand.server_ip; }

namespace {

using options::Family;

// The address in hand (the record shows it), the connection aimed at it
// with its route; false when it does not fit the record.
bool take_address(Delivery &c, const std::string &address, transport::Route route) {
    c.hand.server_ip = address;
    if (!show_in_record(c)) return false;
    c.aim(address, c.req->nPort, std::move(route));
    return true;
}

// The first of the names that has addresses for "6" (IPv6 ones, one after
// another; "auto" after the IPv4 lookups found none) or "any" (both, raced),
// into `found`.
bool first_named(Delivery &c, const std::vector<std::string> &names, std::string &found) {
    for (const std::string &name : names) {
        resolve::Attempt a;
        found = name;
        if (resolve::name_attempt(name, c.family == Family::Any ? Family::Any : Family::V6, a))
            return take_address(c, a.addresses.front(), {"", a.addresses, a.stagger_ms, {}});
    }
    return false;
}

// The exchangers of an answer by preference, the answer's order among equals.
std::vector<std::string> by_preference(const MXQUERY_STRUCTURE &mx) {
    std::vector<std::pair<int32_t, std::string>> hosts;
    for (int i = 0; i < resolve::mx_count(mx); ++i) hosts.emplace_back(mx.mx[i].nPreference, resolve::mx_host(mx, i));
    std::stable_sort(hosts.begin(), hosts.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    std::vector<std::string> names;
    for (auto &h : hosts) names.push_back(std::move(h.second));
    return names;
}

bool classic_family(const Delivery &c) { return c.family == Family::V4 || c.family == Family::Auto; }

}  // namespace

// Host-name lookup of the server in hand into its address (an address
// literal stands for itself, of the families the send uses); false after
// the failure reports (906 stored).
bool resolve_domain(Delivery &c, const char *abort_line) {
    std::string literal = literal_address(c.hand.server, true), name = idn::to_ascii(c.hand.server), address;
    int family = transport::family_of(literal);
    bool wanted = family == 6 ? c.family != Family::V4 : c.family != Family::V6;
    if (family == 6 || (family && literal != c.hand.server)) {  // bracketed or IPv6: never looked up
        if (wanted && take_address(c, literal, {})) return true;
    } else if (classic_family(c) && c.resolve_host(name, address)) {
        transport::Route route;
        if (c.family == Family::Auto) route.fallback_v6 = {name};
        if (take_address(c, address, route)) return true;
    } else if (c.family != Family::V4 && first_named(c, {name}, address)) {
        return true;
    }
    domain_unresolved(c, abort_line);
    return false;
}

namespace {

// The exchanger's TLS under SecureConnection 4 chosen; false (907 stored)
// when DANE or MTA-STS refuse it.
// The families are those of the route the connection was aimed with.
bool protection_armed(Delivery &c, ExchangerSecurity &security, const std::string &exchanger) {
    const transport::Route &r = c.route;
    int families = resolve::families_of(r.addresses.empty() ? std::vector{c.hand.server_ip} : r.addresses);
    if (!r.fallback_v6.empty()) families |= resolve::kDialsIpv6;
    if (security.arm(c, exchanger, families)) return true;
    c.req->nErrorCode = 907;
    return false;
}

}  // namespace

// The exchanger of szServer's domain into szServerIP: the MX answer
// resolved as a single recipient's is (on a scratch record: the caller's MX
// fields stay as they are), the entry of lowest preference with an address
// (the first of equals). Only a domain without exchangers (or an address
// literal) is looked up as a host name (its implicit exchanger);
// exchangers none of which resolves fail with that lookup's failure
// reports. "auto" dials the IPv4 address so chosen and, when it fails, the
// exchangers' IPv6 addresses by preference; "6" and "any" (and "auto"
// when no exchanger has an IPv4 address) the first exchanger by preference
// with addresses of their families.
bool resolve_exchanger(Delivery &c, const char *abort_line) {
    if (!literal_address(c.hand.server, false).empty()) return resolve_domain(c, abort_line);
    SMTPSEND_STRUCTURE probe{};
    copy_field(probe.szServer, c.req->szServer);  // the server in hand
    MXQUERY_STRUCTURE mx{};
    VALIDMXIPS valid{};
    char dns[24] = {0};
    c.aside([&] { resolve_recipient_mx(&probe, &mx, &valid, dns); });
    ExchangerSecurity security(c, c.hand.server);
    if (valid.nValidIPs < 1)  // the domain is its own exchanger
        return resolve_domain(c, abort_line) && protection_armed(c, security, idn::to_ascii(c.hand.server));
    int best = -1;
    for (int i = 0; i < valid.nValidIPs && i < VELLOR_MAX_VALID_MX; ++i)
        if (!empty(valid.szIPAddress[i]) && (best < 0 || valid.nPreference[i] < valid.nPreference[best])) best = i;
    std::string named;
    if (classic_family(c) && best >= 0) {
        const std::string host = field_text(valid.szMxHost[best]);
        transport::Route route;  // under DANE or MTA-STS only the chosen exchanger's own IPv6 addresses follow
        if (c.family == Family::Auto) route.fallback_v6 = security.active() ? std::vector{host} : by_preference(mx);
        if (take_address(c, field_text(valid.szIPAddress[best]), route)) return protection_armed(c, security, host);
    } else if (c.family != Family::V4 && first_named(c, by_preference(mx), named)) {
        return protection_armed(c, security, named);
    }
    domain_unresolved(c, abort_line);
    return false;
}

void domain_unresolved(Delivery &c, const char *abort_line) {
    c.report(Where::log_prefixed, 0, 0, texts::kNoIpFromDomain);
    c.report(Where::log_prefixed, 0, 0, abort_line);
    c.report(Where::callback, 920, 909, format(texts::kDomainAborted, c.hand.server.c_str()));
    c.req->nErrorCode = 906;
}

void report_size(const Delivery &c, const std::string &num) {
    c.report(Where::both, 921, 0,
             num + format(texts::kSendingOf, message_size(c), c.hand.sender.c_str(), c.hand.recipient.c_str()));
}

void report_connected(const Delivery &c, const std::string &num) {
    c.report(Where::both, 921, 0, num + format(texts::kConnectedTo, c.hand.server.c_str(), c.hand.server_ip.c_str()));
}

// Reports a failed connection of a list or envelope delivery; stores 907.
void connection_failed(Delivery &c, const std::string &num, bool last_unprefixed) {
    SMTPSEND_STRUCTURE *r = c.req;
    r->nWinsockError = c.noted_error();
    c.report(Where::both, 920, 907, num + format(texts::kNoConnection, connect_target(c).c_str()));
    if (c.address_count() > 1) c.report(Where::both, 920, 907, num + format(texts::kAttempted, c.address_count()));
    std::string last = num + format(texts::kNoConnectionServerAborted, c.hand.server.c_str());
    if (last_unprefixed) {
        c.report(Where::both_as_given, 920, 907, last);
    } else {
        c.report(Where::both, 920, 907, last);
    }
    r->nErrorCode = 907;
}

void HeldFiles::hold(const std::string &name, const MessageFile &file) {
    files_.push_back({name, file.path(), file.stamp(), envelope_of(c_)});
}

namespace {

// The file every recipient took, removed when it and its envelope are still
// the versions that were read, with its envelope; otherwise why it stays.
FileLeft remove_held(Delivery &c, const std::string &name, const std::string &path, const files::Stamp &sent,
                     const EnvelopeSeen &envelope) {
    files::Stamp at;
    if (!envelope_as_seen(envelope, name) || !files::stamp_at(path, at) || !(at == sent)) return FileLeft::Changed;
    if (!files::remove_exact(path))
        return files::stamp_at(path, at) && at == sent ? FileLeft::Refused : FileLeft::Changed;
    if (!c.req->bUseEnvFile) return FileLeft::No;
    std::string env = envelope_path_of(name);
    if (files::exists(env)) files::remove(env);
    return FileLeft::No;
}

}  // namespace

void HeldFiles::release(int expected) {
    c_.held = nullptr;
    std::map<std::string, int> accepted;
    std::map<std::string, const Held *> first;
    std::set<std::string> versions_differ;
    for (const Held &f : files_) {
        accepted[f.name] += 1;
        auto [at, fresh] = first.emplace(f.name, &f);
        if (!fresh && !(at->second->stamp == f.stamp && at->second->path == f.path)) versions_differ.insert(f.name);
    }
    for (const auto &[name, count] : accepted) {
        const Held &f = *first[name];
        if (count < expected) {
            c_.report(Where::both_prefixed, 920, c_.req->nErrorCode,
                      format(texts::kMessageKeptFor, name.c_str(), count, expected));
            continue;
        }
        FileLeft left =
            versions_differ.count(name) ? FileLeft::Changed : remove_held(c_, name, f.path, f.stamp, f.envelope);
        if (left != FileLeft::No) c_.report(Where::both_prefixed, 921, 0, format(left_report(left), name.c_str()));
    }
    files_.clear();
}

}  // namespace vellor
