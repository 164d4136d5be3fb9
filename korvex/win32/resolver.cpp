// DNS for the companion on Windows, with the system's DNS API (DnsQuery_A):
// A, AAAA, PTR and MX queries, the records kept in the order of the answer. The
// servers asked are those of $KORVEXAPI_DNS_SERVERS when it is set (the
// Windows API takes addresses only and asks them on port 53; a ":port" is
// ignored), else the system's. DNS_QUERY_STANDARD is used throughout:
// bypassing the cache with a named server was seen to lose MX answers under
// Wine. A name that DNS does not know is then looked up through the hosts
// file (gethostbyname), as the system resolver would. Where the API cannot
// hand back a record that carries a name (Wine's DnsQuery_A answers every
// MX and PTR query with DNS_ERROR_BAD_PACKET), the companion asks the
// server itself over UDP (dns_message.h) within the companion's time-out.
#include <winsock2.h>
#include <windns.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>

#include "korvex/dns_message.h"
#include "korvex/korvex_internal.h"

namespace korvex {
namespace {

// The named servers as the API takes them; empty when the system's are used.
struct ServerList {
    std::vector<unsigned char> raw;  // an IP4_ARRAY
    IP4_ARRAY *get() { return raw.empty() ? nullptr : reinterpret_cast<IP4_ARRAY *>(raw.data()); }
};

ServerList server_list(const std::string &csv) {
    std::vector<IP4_ADDRESS> found;
    std::stringstream in(csv);
    std::string item;
    while (std::getline(in, item, ',')) {
        item = item.substr(0, item.find(':'));
        in_addr a{};
        if (::inet_pton(AF_INET, item.c_str(), &a) == 1) found.push_back(a.s_addr);
    }
    ServerList list;
    if (found.empty()) return list;
    list.raw.resize(sizeof(IP4_ARRAY) + found.size() * sizeof(IP4_ADDRESS));
    auto *array = reinterpret_cast<IP4_ARRAY *>(list.raw.data());
    array->AddrCount = static_cast<DWORD>(found.size());
    std::memcpy(array->AddrArray, found.data(), found.size() * sizeof(IP4_ADDRESS));
    return list;
}

Lookup outcome(DNS_STATUS status) {
    switch (status) {
        case ERROR_SUCCESS:
            return Lookup::Found;
        case DNS_INFO_NO_RECORDS:
            return Lookup::NoData;
        case DNS_ERROR_RCODE_NAME_ERROR:
            return Lookup::NoDomain;
        case ERROR_TIMEOUT:
            return Lookup::TimedOut;
        case DNS_ERROR_RCODE_SERVER_FAILURE:
            return Lookup::ServerFailed;
        case DNS_ERROR_RCODE_REFUSED:
            return Lookup::ServerFailed;
        case DNS_ERROR_INVALID_NAME:
        case DNS_ERROR_RCODE_FORMAT_ERROR:
            return Lookup::BadName;
        default:
            return Lookup::Failed;
    }
}

struct RecordList {
    DNS_RECORD *first = nullptr;
    ~RecordList() {
        if (first) ::DnsRecordListFree(first, DnsFreeRecordList);
    }
};

// One query; the records of the wanted type are handed to `take` in order.
template <typename Take>
Lookup query(const std::string &name, WORD type, const std::string &servers, Take take, DNS_STATUS *raw = nullptr) {
    if (!network_ready()) return Lookup::Failed;
    ServerList list = server_list(servers);
    RecordList records;
    DNS_STATUS status = ::DnsQuery_A(name.c_str(), type, DNS_QUERY_STANDARD, list.get(), &records.first, nullptr);
    if (raw) *raw = status;
    if (status == DNS_ERROR_RCODE_NO_ERROR && !records.first) return Lookup::NoData;
    if (status != ERROR_SUCCESS) return outcome(status);
    bool any = false;
    for (DNS_RECORD *r = records.first; r; r = r->pNext) {
        if (r->wType != type || r->Flags.S.Section != DnsSectionAnswer) continue;
        take(*r);
        any = true;
    }
    return any ? Lookup::Found : Lookup::NoData;
}

std::string dotted(IP4_ADDRESS address) {
    in_addr a{};
    a.s_addr = address;
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

// The hosts file and the system's other sources, for names DNS does not know.
Lookup system_lookup(const std::string &host, std::vector<std::string> &addresses) {
    hostent *h = ::gethostbyname(host.c_str());
    if (!h || h->h_addrtype != AF_INET) return Lookup::NoDomain;
    for (char **p = h->h_addr_list; p && *p; ++p) {
        IP4_ADDRESS a;
        std::memcpy(&a, *p, sizeof a);
        addresses.push_back(dotted(a));
    }
    return addresses.empty() ? Lookup::NoData : Lookup::Found;
}

// The hosts file and the system's other sources for the IPv6 addresses of
// a name DNS does not know.
Lookup system_lookup6(const std::string &host, std::vector<std::string> &addresses) {
    addrinfo hints{}, *found = nullptr;
    hints.ai_family = AF_INET6;
    hints.ai_socktype = SOCK_STREAM;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return Lookup::NoDomain;
    for (addrinfo *p = found; p; p = p->ai_next) {
        char text[INET6_ADDRSTRLEN] = {};
        auto *sa = reinterpret_cast<sockaddr_in6 *>(p->ai_addr);
        if (p->ai_family == AF_INET6 && ::inet_ntop(AF_INET6, &sa->sin6_addr, text, sizeof text))
            addresses.push_back(text);
    }
    ::freeaddrinfo(found);
    return addresses.empty() ? Lookup::NoData : Lookup::Found;
}

// The first server to ask: a named one (its port kept), else the system's first.
sockaddr_in first_server(const std::string &named) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(53);
    std::string item = named.substr(0, named.find(','));
    std::size_t colon = item.find(':');
    if (colon != std::string::npos) sa.sin_port = htons(static_cast<u_short>(std::atoi(item.c_str() + colon + 1)));
    std::string host = item.substr(0, colon);
    if (host.empty()) {
        std::vector<std::string> system = default_servers();
        host = system.empty() ? "" : system.front();
    }
    if (::inet_pton(AF_INET, host.c_str(), &sa.sin_addr) != 1) sa.sin_family = 0;
    return sa;
}

// One question to the server over UDP, waiting at most the companion's
// time-out: Found with the packet received, TimedOut without one.
Lookup exchange_udp(const sockaddr_in &server, const std::string &q, std::string &packet) {
    SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return Lookup::Failed;
    Lookup outcome = Lookup::TimedOut;
    if (::sendto(s, q.data(), static_cast<int>(q.size()), 0, reinterpret_cast<const sockaddr *>(&server),
                 sizeof server) > 0) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        int ms = timeout_ms();
        timeval tv{ms / 1000, (ms % 1000) * 1000};
        char buf[4096];
        int got = ::select(0, &readable, nullptr, nullptr, &tv) > 0 ? ::recv(s, buf, sizeof buf, 0) : -1;
        if (got > 0) {
            packet.assign(buf, static_cast<std::size_t>(got));
            outcome = Lookup::Found;
        }
    }
    ::closesocket(s);
    return outcome;
}

uint16_t query_id() { return static_cast<uint16_t>(::GetTickCount() ^ ::GetCurrentThreadId()); }

Lookup ask_directly(const std::string &name, uint16_t type, const std::string &servers, std::vector<MxHost> &records) {
    sockaddr_in server = first_server(servers);
    uint16_t id = query_id();
    std::string q = dns::query(id, name, type), packet;
    if (server.sin_family != AF_INET || q.empty()) return Lookup::BadName;
    Lookup got = exchange_udp(server, q, packet);
    return got == Lookup::Found ? dns::read_answer(packet, id, type, records) : got;
}

}  // namespace

Lookup lookup_ipv4(const std::string &host, std::vector<std::string> &addresses) {
    in_addr literal{};
    if (::inet_pton(AF_INET, host.c_str(), &literal) == 1) {
        addresses = {host};
        return Lookup::Found;
    }
    Lookup found = query(host, DNS_TYPE_A, dns_servers(),
                         [&](const DNS_RECORD &r) { addresses.push_back(dotted(r.Data.A.IpAddress)); });
    if (found == Lookup::Found || !network_ready()) return found;
    addresses.clear();
    return system_lookup(host, addresses) == Lookup::Found ? Lookup::Found : found;
}

Lookup lookup_ipv6(const std::string &host, std::vector<std::string> &addresses) {
    if (int literal = family_of(host)) {
        if (literal == 6) addresses = {host};
        return literal == 6 ? Lookup::Found : Lookup::NoData;
    }
    Lookup found = query(host, DNS_TYPE_AAAA, dns_servers(), [&](const DNS_RECORD &r) {
        char text[INET6_ADDRSTRLEN] = {};
        if (::inet_ntop(AF_INET6, r.Data.AAAA.Ip6Address.IP6Byte, text, sizeof text)) addresses.push_back(text);
    });
    if (found == Lookup::Found || !network_ready()) return found;
    addresses.clear();
    return system_lookup6(host, addresses) == Lookup::Found ? Lookup::Found : found;
}

Lookup lookup_ptr(const std::string &address, std::string &name) {
    in_addr a{};
    if (::inet_pton(AF_INET, address.c_str(), &a) != 1) return Lookup::BadName;
    const auto *b = reinterpret_cast<const unsigned char *>(&a.s_addr);
    std::string reverse = std::to_string(b[3]) + "." + std::to_string(b[2]) + "." + std::to_string(b[1]) + "." +
                          std::to_string(b[0]) + ".in-addr.arpa";
    DNS_STATUS raw = 0;
    Lookup found = query(
        reverse, DNS_TYPE_PTR, dns_servers(),
        [&](const DNS_RECORD &r) {
            if (name.empty() && r.Data.PTR.pNameHost) name = r.Data.PTR.pNameHost;
        },
        &raw);
    if (raw != DNS_ERROR_BAD_PACKET) return found;
    std::vector<MxHost> names;
    found = ask_directly(reverse, DNS_TYPE_PTR, dns_servers(), names);
    if (found == Lookup::Found) name = names.front().host;
    return found;
}

Lookup query_mx(const std::string &domain, const std::string &server, std::vector<MxHost> &hosts) {
    std::string servers = server.empty() ? dns_servers() : server;
    DNS_STATUS raw = 0;
    Lookup found = query(
        domain, DNS_TYPE_MX, servers,
        [&](const DNS_RECORD &r) {
            hosts.push_back({r.Data.MX.pNameExchange ? r.Data.MX.pNameExchange : "", r.Data.MX.wPreference});
        },
        &raw);
    return raw == DNS_ERROR_BAD_PACKET ? ask_directly(domain, DNS_TYPE_MX, servers, hosts) : found;
}

// Asked of the first server alone, with the companion's own query: the
// system's DNS API does not hand back the AD bit.
Lookup query_dnssec(const std::string &name, uint16_t type, std::string &answer, bool &loopback) {
    sockaddr_in server = first_server(dns_servers());
    uint16_t id = query_id();
    std::string q = dns::dnssec_query(id, name, type);
    if (server.sin_family != AF_INET || q.empty()) return Lookup::BadName;
    loopback = (ntohl(server.sin_addr.s_addr) >> 24) == 127;
    Lookup got = exchange_udp(server, q, answer);
    if (got != Lookup::Found) return got;
    bool ours = answer.size() >= 12 && static_cast<unsigned char>(answer[0]) == (id >> 8) &&
                static_cast<unsigned char>(answer[1]) == (id & 0xff) && (answer[2] & 0x80);
    unsigned rcode = answer.size() >= 4 ? answer[3] & 0x0f : 0;
    if (!ours) return Lookup::Failed;
    return rcode == 2 || rcode == 5 ? Lookup::ServerFailed : Lookup::Found;
}

std::vector<std::string> default_servers() {
    std::vector<std::string> out;
    std::string named = dns_servers();
    if (!named.empty()) {
        std::stringstream in(named);
        std::string item;
        while (std::getline(in, item, ',')) out.push_back(item);
        return out;
    }
    DWORD size = 0;
    if (::DnsQueryConfig(DnsConfigDnsServerList, 0, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS || size == 0)
        return out;
    std::vector<unsigned char> raw(size);
    if (::DnsQueryConfig(DnsConfigDnsServerList, 0, nullptr, nullptr, raw.data(), &size) != ERROR_SUCCESS) return out;
    const auto *array = reinterpret_cast<const IP4_ARRAY *>(raw.data());
    for (DWORD i = 0; i < array->AddrCount; ++i) out.push_back(dotted(array->AddrArray[i]));
    return out;
}

}  // namespace korvex
