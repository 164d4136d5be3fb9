// MTA-STS policies: the TXT record, the fetch, the cache; see mta_sts.h.
// The cache file holds one line per domain: the domain, the TXT id, the
// time it was fetched (seconds since 1970), max_age, the mode and the mx
// patterns joined by commas; it is rewritten whole under a lock.
#include "submit/mta_sts.h"

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <sstream>

#include "platform/files.h"
#include "platform/small_file.h"
#include "resolve/dns_answer.h"
#include "support/text.h"
#include "transport/companion.h"
#include "transport/https_get.h"
#include "support/report_texts.h"

namespace vellor::sts {
namespace {

constexpr std::size_t kMostPolicy = std::size_t{64} * 1024;
constexpr long long kMostAge = 31557600;  // RFC 8461: max_age at most a year

std::string lower(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string trimmed(const std::string &s) {
    std::size_t a = s.find_first_not_of(" \t\r"), b = s.find_last_not_of(" \t\r");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

long long now_seconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

const char *mode_name(Mode m) { return m == Mode::Enforce ? "enforce" : m == Mode::Testing ? "testing" : "none"; }

std::optional<Mode> mode_of(const std::string &text) {
    if (text == "enforce") return Mode::Enforce;
    if (text == "testing") return Mode::Testing;
    if (text == "none") return Mode::None;
    return std::nullopt;
}

bool digits(const std::string &s) {
    return !s.empty() && s.size() <= 10 && s.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

std::optional<std::string> txt_id(const std::vector<std::string> &records) {
    std::optional<std::string> id;
    for (const std::string &record : records) {
        if (record.compare(0, 7, "v=STSv1") != 0 || (record.size() > 7 && record[7] != ';' && record[7] != ' '))
            continue;
        if (id) return std::nullopt;  // more than one: as none (RFC 8461 3.1)
        std::stringstream in(record);
        std::string field;
        while (std::getline(in, field, ';')) {
            field = trimmed(field);
            if (field.compare(0, 3, "id=") != 0) continue;
            std::string v = field.substr(3);
            bool alnum = !v.empty() && v.size() <= 32;
            for (char ch : v) alnum = alnum && std::isalnum(static_cast<unsigned char>(ch));
            if (alnum) id = v;
        }
        if (!id) return std::nullopt;
    }
    return id;
}

std::optional<Policy> parse_policy(const std::string &text) {
    Policy p;
    bool version = false, mode = false, age = false;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string key = trimmed(line.substr(0, colon)), value = trimmed(line.substr(colon + 1));
        if (key == "version") version = value == "STSv1";
        if (key == "mode") {
            std::optional<Mode> m = mode_of(value);
            if (m) p.mode = *m;
            mode = m.has_value();
        }
        if (key == "max_age" && digits(value)) {
            p.max_age = std::min(std::atoll(value.c_str()), kMostAge);
            age = true;
        }
        if (key == "mx" && !value.empty()) p.mx.push_back(lower(value));
    }
    if (!version || !mode || !age || (p.mode != Mode::None && p.mx.empty())) return std::nullopt;
    return p;
}

bool mx_matches(const Policy &p, const std::string &host) {
    std::string h = lower(host);
    if (!h.empty() && h.back() == '.') h.pop_back();
    for (const std::string &pattern : p.mx) {
        if (pattern == h) return true;
        if (pattern.compare(0, 2, "*.") != 0 || h.size() <= pattern.size() - 1) continue;
        std::string suffix = pattern.substr(1);  // ".example.net"
        std::size_t head = h.size() - suffix.size();
        if (h.compare(head, suffix.size(), suffix) == 0 && h.find('.') == head) return true;
    }
    return false;
}

namespace {

struct Cached {
    Policy policy;
    long long fetched = 0;
};

// A cache another local user could have written (a link, someone else's
// file, one its group or others may write) is not read: it could weaken a
// policy.
std::optional<Cached> read_cached(Delivery &c, const std::string &file, const std::string &domain) {
    std::string text, why;
    files::Stamp stamp;
    if (!file.empty() && files::stamp_at(file, stamp) && stamp.shared) {
        c.report(Where::log_prefixed, 0, 0, format(texts::kStsCacheNotRead, file.c_str()));
        return std::nullopt;
    }
    if (file.empty() || !files::read_small_file(file, 1u << 20, text, why)) return std::nullopt;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::stringstream fields(line);
        std::string name, id, mode, mx;
        Cached c;
        if (!(fields >> name >> id >> c.fetched >> c.policy.max_age >> mode) || name != domain) continue;
        std::optional<Mode> m = mode_of(mode);
        if (!m) continue;
        c.policy.mode = *m;
        c.policy.id = id;
        if (fields >> mx) {
            std::stringstream list(mx);
            for (std::string pattern; std::getline(list, pattern, ',');) c.policy.mx.push_back(pattern);
        }
        return c;
    }
    return std::nullopt;
}

// The domain's line replaced (the others kept); false when the file could
// not be written.
bool write_cached(const std::string &file, const std::string &domain, const Policy &p, long long fetched) {
    std::string text, why, out;
    files::read_small_file(file, 1u << 20, text, why);
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, domain.size() + 1, domain + " ") != 0 && !line.empty()) out += line + "\n";
    std::string mx;
    for (const std::string &pattern : p.mx) mx += (mx.empty() ? "" : ",") + pattern;
    out += domain + " " + p.id + " " + std::to_string(fetched) + " " + std::to_string(p.max_age) + " " +
           mode_name(p.mode) + (mx.empty() ? "" : " " + mx) + "\n";
    int fd = files::open_append_create(file);  // a new file is 0600
    bool ok =
        fd >= 0 && files::try_lock(fd) && files::truncate(fd, 0) && files::write_at(fd, out.data(), out.size(), 0);
    if (fd >= 0) files::close(fd);
    return ok;
}

// The ids of the domain's TXT records; nullopt when it publishes none.
std::optional<std::string> lookup_id(const std::string &domain) {
    std::string raw;
    bool loopback = false;
    if (transport::dnssec_query("_mta-sts." + domain, resolve::kTypeTxt, raw, loopback) != 1) return std::nullopt;
    resolve::DnsAnswer a = resolve::read_dns_answer(raw, resolve::kTypeTxt);
    return a.ok && a.rcode == 0 ? txt_id(a.records) : std::nullopt;
}

int policy_port() {
    const char *given = std::getenv("VELLOR_MTA_STS_PORT");  // tests only
    int port = given ? std::atoi(given) : 0;
    return port > 0 && port < 65536 ? port : 443;
}

std::optional<Policy> fetch(Delivery &c, const std::string &domain, const std::string &ca_file, std::string &why) {
    transport::HttpsAnswer a =
        transport::https_get(c, "mta-sts." + domain, policy_port(), "/.well-known/mta-sts.txt", ca_file, kMostPolicy);
    if (!a.ok) {
        why = a.why;
        return std::nullopt;
    }
    if (a.content_type.compare(0, 10, "text/plain") != 0) {
        why = texts::kStsNotPlain;
        return std::nullopt;
    }
    std::optional<Policy> p = parse_policy(a.body);
    if (!p) why = texts::kStsUnreadable;
    return p;
}

}  // namespace

std::optional<Policy> policy_for(Delivery &c, const std::string &domain, const options::MessageOptions &o) {
    std::string name = lower(domain);
    long long now = now_seconds();
    std::optional<Cached> cached = read_cached(c, o.mta_sts_cache_file, name);
    if (cached && cached->fetched + cached->policy.max_age <= now) cached.reset();  // expired
    std::optional<std::string> id;
    c.aside([&] { id = lookup_id(name); });
    if (!id) {
        if (cached)
            c.report(Where::log_prefixed, 0, 0,
                     format(texts::kStsCachedApplies, mode_name(cached->policy.mode), name.c_str()));
        return cached ? std::optional<Policy>(cached->policy) : std::nullopt;
    }
    if (cached && cached->policy.id == *id) return cached->policy;
    std::string why;
    std::optional<Policy> fetched = fetch(c, name, o.tls_ca_file, why);
    if (!fetched) {
        c.report(Where::both, 921, 0,
                 format(texts::kStsNotFetched, name.c_str(), why.c_str(), cached ? texts::kStsCachedOneApplies : ""));
        return cached ? std::optional<Policy>(cached->policy) : std::nullopt;
    }
    fetched->id = *id;
    if (!o.mta_sts_cache_file.empty() && !write_cached(o.mta_sts_cache_file, name, *fetched, now))
        c.report(Where::log_prefixed, 0, 0, format(texts::kStsCacheNotWritten, o.mta_sts_cache_file.c_str()));
    c.report(Where::both, 921, 0, format(texts::kStsPolicy, name.c_str(), mode_name(fetched->mode)));
    return fetched;
}

}  // namespace vellor::sts
