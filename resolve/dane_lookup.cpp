// The TLSA lookup of one exchanger; see dane_lookup.h.
#include "resolve/dane_lookup.h"

#include <algorithm>

#include "resolve/dns_answer.h"
#include "support/report_texts.h"
#include "support/text.h"
#include "transport/companion.h"

namespace vellor::resolve {
namespace {

struct Asked {
    bool answered = false;  // an answer came that could be read
    bool secure = false;    // validated by a trusted server
    DnsAnswer answer;
};

Asked ask(const std::string &name, uint16_t type, bool trusted_servers) {
    Asked a;
    std::string raw;
    bool loopback = false;
    if (transport::dnssec_query(name, type, raw, loopback) != 1) return a;
    a.answer = read_dns_answer(raw, type);
    a.answered = a.answer.ok && (a.answer.rcode == 0 || a.answer.rcode == 3);
    a.secure = a.answered && a.answer.authentic && (loopback || trusted_servers);
    return a;
}

std::string lower(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!s.empty() && s.back() == '.') s.pop_back();
    return s;
}

DaneLookup none(const std::string &why) { return {DaneLookup::Kind::None, {}, why}; }

}  // namespace

bool usable_tlsa(const transport::Tlsa &t) {
    std::size_t sizes[] = {0, 32, 64};
    return (t.usage == 2 || t.usage == 3) && t.selector <= 1 && t.matching <= 2 && !t.data.empty() &&
           (t.matching == 0 || t.data.size() == sizes[t.matching]);
}

int families_of(const std::vector<std::string> &addresses) {
    int families = 0;
    for (const std::string &a : addresses) families |= transport::family_of(a) == 6 ? kDialsIpv6 : kDialsIpv4;
    return families;
}

DaneLookup dane_lookup(const std::string &domain, const std::string &exchanger, int families, bool trusted_servers) {
    Asked mx = ask(domain, kTypeMx, trusted_servers);
    std::string host = lower(exchanger);
    if (!mx.secure || std::none_of(mx.answer.records.begin(), mx.answer.records.end(),
                                   [&](const std::string &name) { return lower(name) == host; }))
        return none(fill(texts::kMxNotSecure, {domain}));
    if ((families & kDialsIpv4 || !families) && !ask(host, kTypeA, trusted_servers).secure)
        return none(texts::kANotSecure);
    if (families & kDialsIpv6 && !ask(host, kTypeAaaa, trusted_servers).secure) return none(texts::kAaaaNotSecure);
    Asked tlsa = ask("_25._tcp." + host, kTypeTlsa, trusted_servers);
    if (!tlsa.answered) return {DaneLookup::Kind::Failed, {}, texts::kTlsaLookupFailed};
    if (!tlsa.secure) return none(texts::kTlsaNotSecure);
    if (tlsa.answer.records.empty()) return none(texts::kNoTlsa);
    DaneLookup found{DaneLookup::Kind::Unusable, {}, {}};
    for (const std::string &rdata : tlsa.answer.records) {
        if (rdata.size() < 3) continue;
        transport::Tlsa t{static_cast<uint8_t>(rdata[0]), static_cast<uint8_t>(rdata[1]),
                          static_cast<uint8_t>(rdata[2]), rdata.substr(3)};
        if (usable_tlsa(t)) found.records.push_back(t);
    }
    if (!found.records.empty()) found.kind = DaneLookup::Kind::Usable;
    return found;
}

}  // namespace vellor::resolve
