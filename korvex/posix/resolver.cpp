// DNS for the companion through c-ares: A and AAAA lookups (with /etc/hosts
// first, as the system does), PTR lookups, MX queries and raw queries for
// DNSSEC data. Each lookup makes its own
// channel (reading /etc/resolv.conf, and /etc/hosts for names; the servers
// from there or from $KORVEXAPI_DNS_SERVERS), runs
// it to completion with poll() under an overall deadline of the companion's
// time-out, and destroys it: no lookup can wait longer than that.
#include <ares.h>
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>

#include "korvex/dns_message.h"
#include "korvex/korvex_internal.h"

namespace korvex {
namespace {

class Channel {
public:
    explicit Channel(const std::string &servers) {
        static std::once_flag once;
        std::call_once(once, [] { ares_library_init(ARES_LIB_INIT_ALL); });
        ares_options opts{};
        int total = timeout_ms();
        opts.timeout = std::max(50, std::min(total / 2, 5000));
        opts.tries = 2;
        // Files first, then DNS, as the system does; naming the order also
        // spares c-ares reading nsswitch.conf and host.conf at every lookup.
        char lookups[] = "fb";
        opts.lookups = lookups;
        status_ = ares_init_options(&ch_, &opts, ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES | ARES_OPT_LOOKUPS);
        if (status_ == ARES_SUCCESS && !servers.empty()) status_ = ares_set_servers_ports_csv(ch_, servers.c_str());
    }
    ~Channel() {
        if (ch_) ares_destroy(ch_);
    }
    Channel(const Channel &) = delete;
    Channel &operator=(const Channel &) = delete;

    bool ok() const { return status_ == ARES_SUCCESS; }
    int status() const { return status_; }
    ares_channel get() { return ch_; }

    // Runs the channel's queries until none is pending or the deadline passes.
    void run() {
        using clock = std::chrono::steady_clock;
        auto deadline = clock::now() + std::chrono::milliseconds(timeout_ms());
        for (;;) {
            ares_socket_t socks[ARES_GETSOCK_MAXNUM];
            int mask = ares_getsock(ch_, socks, ARES_GETSOCK_MAXNUM);
            pollfd pfd[ARES_GETSOCK_MAXNUM];
            int n = 0;
            for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
                short ev = 0;
                if (ARES_GETSOCK_READABLE(mask, i)) ev |= POLLIN;
                if (ARES_GETSOCK_WRITABLE(mask, i)) ev |= POLLOUT;
                if (ev) pfd[n++] = pollfd{socks[i], ev, 0};
            }
            if (n == 0) return;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
            if (left <= 0) {
                ares_cancel(ch_);
                return;
            }
            timeval maxtv{static_cast<time_t>(left / 1000), static_cast<suseconds_t>((left % 1000) * 1000)};
            timeval tv{};
            timeval *tvp = ares_timeout(ch_, &maxtv, &tv);
            int wait = tvp ? static_cast<int>(tvp->tv_sec * 1000 + tvp->tv_usec / 1000) : static_cast<int>(left);
            int r = ::poll(pfd, n, std::max(wait, 1));
            if (r <= 0) {
                ares_process_fd(ch_, ARES_SOCKET_BAD, ARES_SOCKET_BAD);
                continue;
            }
            for (int i = 0; i < n; ++i) {
                ares_socket_t rd = (pfd[i].revents & (POLLIN | POLLERR | POLLHUP)) ? pfd[i].fd : ARES_SOCKET_BAD;
                ares_socket_t wr = (pfd[i].revents & POLLOUT) ? pfd[i].fd : ARES_SOCKET_BAD;
                if (rd != ARES_SOCKET_BAD || wr != ARES_SOCKET_BAD) ares_process_fd(ch_, rd, wr);
            }
        }
    }

private:
    ares_channel ch_ = nullptr;
    int status_ = ARES_ENOTINITIALIZED;
};

struct HostResult {
    int status = ARES_ETIMEOUT;
    std::vector<std::string> addresses;
    std::string name;
};

// The callbacks run inside c-ares, a C library: nothing may unwind through
// it, so an allocation failure becomes the lookup's failure status.
void on_host(void *arg, int status, int, hostent *h) noexcept {
    auto *r = static_cast<HostResult *>(arg);
    r->status = status;
    if (status != ARES_SUCCESS || !h) return;
    try {
        if (h->h_name) r->name = h->h_name;
        if (h->h_addrtype != AF_INET && h->h_addrtype != AF_INET6) return;
        for (char **p = h->h_addr_list; p && *p; ++p) {
            char text[INET6_ADDRSTRLEN];
            if (inet_ntop(h->h_addrtype, *p, text, sizeof text)) r->addresses.emplace_back(text);
        }
    } catch (...) {
        r->status = ARES_ENOMEM;
    }
}

struct MxResult {
    int status = ARES_ETIMEOUT;
    std::vector<MxHost> hosts;
};

void on_mx(void *arg, int status, int, unsigned char *abuf, int alen) noexcept {
    auto *r = static_cast<MxResult *>(arg);
    r->status = status;
    if (status != ARES_SUCCESS) return;
    ares_mx_reply *mx = nullptr;
    r->status = ares_parse_mx_reply(abuf, alen, &mx);
    try {
        for (ares_mx_reply *p = mx; p; p = p->next) r->hosts.push_back({p->host ? p->host : "", p->priority});
    } catch (...) {
        r->status = ARES_ENOMEM;
    }
    if (mx) ares_free_data(mx);
}

Lookup outcome(int ares_status) {
    switch (ares_status) {
        case ARES_SUCCESS:
            return Lookup::Found;
        case ARES_ENODATA:
            return Lookup::NoData;
        case ARES_ENOTFOUND:
            return Lookup::NoDomain;
        case ARES_ETIMEOUT:
        case ARES_ECANCELLED:
            return Lookup::TimedOut;
        case ARES_ESERVFAIL:
        case ARES_EREFUSED:
        case ARES_ECONNREFUSED:
            return Lookup::ServerFailed;
        case ARES_EBADNAME:
            return Lookup::BadName;
        default:
            return Lookup::Failed;
    }
}

}  // namespace

bool network_ready() { return true; }

namespace {

// One A or AAAA answer into r's address texts (Ttl: c-ares' record of one
// address and its TTL, field: the address in it).
template <typename Ttl, typename Parse, typename Address>
void keep_addresses(void *arg, int status, unsigned char *abuf, int alen, Parse parse, Address Ttl::*field,
                    int family) noexcept {
    auto *r = static_cast<HostResult *>(arg);
    r->status = status;
    if (status != ARES_SUCCESS) return;
    Ttl ttls[8];
    int n = 8;
    r->status = parse(abuf, alen, nullptr, ttls, &n);
    try {
        for (int i = 0; r->status == ARES_SUCCESS && i < n; ++i) {
            char text[INET6_ADDRSTRLEN];
            if (inet_ntop(family, &(ttls[i].*field), text, sizeof text)) r->addresses.emplace_back(text);
        }
    } catch (...) {
        r->status = ARES_ENOMEM;
    }
}

}  // namespace

void on_a(void *arg, int status, int, unsigned char *abuf, int alen) noexcept {
    keep_addresses(arg, status, abuf, alen, ares_parse_a_reply, &ares_addrttl::ipaddr, AF_INET);
}

void on_aaaa(void *arg, int status, int, unsigned char *abuf, int alen) noexcept {
    keep_addresses(arg, status, abuf, alen, ares_parse_aaaa_reply, &ares_addr6ttl::ip6addr, AF_INET6);
}

namespace {

// A literal of the family stands for itself (one of the other family has
// no address of this one); then /etc/hosts; then an A or AAAA query whose
// addresses are kept in the order of the answer (never re-sorted).
Lookup lookup_family(const std::string &host, int family, std::vector<std::string> &addresses) {
    int literal = family_of(host);
    if (literal) {
        addresses.clear();
        if (literal == (family == AF_INET ? 4 : 6)) addresses = {host};
        return addresses.empty() ? Lookup::NoData : Lookup::Found;
    }
    Channel ch(dns_servers());
    if (!ch.ok()) return outcome(ch.status());
    HostResult r;
    hostent *file = nullptr;
    if (ares_gethostbyname_file(ch.get(), host.c_str(), family, &file) == ARES_SUCCESS && file) {
        on_host(&r, ARES_SUCCESS, 0, file);  // never throws: the entry is always freed
        ares_free_hostent(file);
    } else if (family == AF_INET) {
        ares_search(ch.get(), host.c_str(), 1 /* IN */, 1 /* A */, on_a, &r);
        ch.run();
    } else {
        ares_search(ch.get(), host.c_str(), 1 /* IN */, 28 /* AAAA */, on_aaaa, &r);
        ch.run();
    }
    addresses = r.addresses;
    return outcome(r.status == ARES_SUCCESS && addresses.empty() ? ARES_ENODATA : r.status);
}

}  // namespace

Lookup lookup_ipv4(const std::string &host, std::vector<std::string> &addresses) {
    in_addr literal{};
    if (inet_pton(AF_INET, host.c_str(), &literal) == 1) {
        addresses = {host};
        return Lookup::Found;
    }
    return lookup_family(host, AF_INET, addresses);
}

Lookup lookup_ipv6(const std::string &host, std::vector<std::string> &addresses) {
    return lookup_family(host, AF_INET6, addresses);
}

Lookup lookup_ptr(const std::string &address, std::string &name) {
    in_addr a{};
    if (inet_pton(AF_INET, address.c_str(), &a) != 1) return Lookup::BadName;
    Channel ch(dns_servers());
    if (!ch.ok()) return outcome(ch.status());
    HostResult r;
    ares_gethostbyaddr(ch.get(), &a, sizeof a, AF_INET, on_host, &r);
    ch.run();
    name = r.name;
    return outcome(r.status == ARES_SUCCESS && name.empty() ? ARES_ENODATA : r.status);
}

Lookup query_mx(const std::string &domain, const std::string &server, std::vector<MxHost> &hosts) {
    Channel ch(server.empty() ? dns_servers() : server);
    if (!ch.ok()) return outcome(ch.status());
    MxResult r;
    ares_query(ch.get(), domain.c_str(), 1 /* IN */, 15 /* MX */, on_mx, &r);
    ch.run();
    hosts = r.hosts;
    return outcome(r.status);
}

namespace {

struct RawResult {
    int status = ARES_ETIMEOUT;
    std::string answer;
};

void on_raw(void *arg, int status, int, unsigned char *abuf, int alen) noexcept {
    auto *r = static_cast<RawResult *>(arg);
    r->status = status;
    if (status != ARES_SUCCESS || !abuf || alen < 4) return;
    unsigned rcode = abuf[3] & 0x0f;  // c-ares hands over a refusal when every server gave one
    if (rcode == 2 || rcode == 5) {
        r->status = rcode == 2 ? ARES_ESERVFAIL : ARES_EREFUSED;
        return;
    }
    try {
        r->answer.assign(reinterpret_cast<const char *>(abuf), static_cast<std::size_t>(alen));
    } catch (...) {
        r->status = ARES_ENOMEM;
    }
}

bool all_loopback(ares_channel ch) {
    ares_addr_port_node *raw = nullptr;
    if (ares_get_servers_ports(ch, &raw) != ARES_SUCCESS || !raw) return false;
    std::unique_ptr<ares_addr_port_node, void (*)(void *)> list(raw, ares_free_data);
    for (ares_addr_port_node *p = list.get(); p; p = p->next) {
        bool v4 = p->family == AF_INET && (ntohl(p->addr.addr4.s_addr) >> 24) == 127;
        bool v6 = p->family == AF_INET6 && IN6_IS_ADDR_LOOPBACK(reinterpret_cast<const in6_addr *>(&p->addr.addr6));
        if (!v4 && !v6) return false;
    }
    return true;
}

}  // namespace

Lookup query_dnssec(const std::string &name, uint16_t type, std::string &answer, bool &loopback) {
    std::string q = dns::dnssec_query(0, name, type);  // c-ares gives it an id of its own
    if (q.empty()) return Lookup::BadName;
    Channel ch(dns_servers());
    if (!ch.ok()) return outcome(ch.status());
    loopback = all_loopback(ch.get());
    RawResult r;
    ares_send(ch.get(), reinterpret_cast<const unsigned char *>(q.data()), static_cast<int>(q.size()), on_raw, &r);
    ch.run();
    answer = r.answer;
    return r.status == ARES_SUCCESS && answer.empty() ? Lookup::Failed : outcome(r.status);
}

std::vector<std::string> default_servers() {
    std::vector<std::string> out;
    Channel ch(dns_servers());
    if (!ch.ok()) return out;
    ares_addr_port_node *raw = nullptr;
    if (ares_get_servers_ports(ch.get(), &raw) != ARES_SUCCESS) return out;
    std::unique_ptr<ares_addr_port_node, void (*)(void *)> list(raw, ares_free_data);  // freed however this ends
    for (ares_addr_port_node *p = list.get(); p; p = p->next) {
        if (p->family != AF_INET) continue;
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &p->addr.addr4, text, sizeof text);
        std::string s = text;
        int port = p->udp_port ? p->udp_port : 53;
        if (port != 53) {
            s += ':';
            s += std::to_string(port);
        }
        out.push_back(s);
    }
    return out;
}

}  // namespace korvex
