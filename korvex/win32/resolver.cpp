// DNS for the companion on Windows, with the system's DNS API (DnsQuery_A):
// A, PTR and MX queries, the records kept in the order of the answer. The
// servers asked are those of $KORVEXAPI_DNS_SERVERS when it is set (the
// Windows API takes addresses only and asks them on port 53; a ":port" is
// ignored), else the system's. DNS_QUERY_STANDARD is used throughout:
// bypassing the cache with a named server was seen to lose MX answers under
// Wine. A name that DNS does not know is then looked up through the hosts
// file (gethostbyname), as the system resolver would.
#include <winsock2.h>
#include <windns.h>
#include <ws2tcpip.h>

#include <cstring>
#include <memory>
#include <sstream>

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
        case ERROR_SUCCESS: return Lookup::Found;
        case DNS_INFO_NO_RECORDS: return Lookup::NoData;
        case DNS_ERROR_RCODE_NAME_ERROR: return Lookup::NoDomain;
        case ERROR_TIMEOUT: return Lookup::TimedOut;
        case DNS_ERROR_RCODE_SERVER_FAILURE: return Lookup::ServerFailed;
        case DNS_ERROR_RCODE_REFUSED: return Lookup::ServerFailed;
        case DNS_ERROR_INVALID_NAME:
        case DNS_ERROR_RCODE_FORMAT_ERROR: return Lookup::BadName;
        default: return Lookup::Failed;
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
Lookup query(const std::string &name, WORD type, const std::string &servers, Take take) {
    if (!network_ready()) return Lookup::Failed;
    ServerList list = server_list(servers);
    RecordList records;
    DNS_STATUS status = ::DnsQuery_A(name.c_str(), type, DNS_QUERY_STANDARD, list.get(), &records.first, nullptr);
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

}  // namespace

Lookup lookup_ipv4(const std::string &host, std::vector<std::string> &addresses) {
    in_addr literal{};
    if (::inet_pton(AF_INET, host.c_str(), &literal) == 1) {
        addresses = {host};
        return Lookup::Found;
    }
    Lookup found = query(host, DNS_TYPE_A, dns_servers(), [&](const DNS_RECORD &r) {
        addresses.push_back(dotted(r.Data.A.IpAddress));
    });
    if (found == Lookup::Found || !network_ready()) return found;
    addresses.clear();
    return system_lookup(host, addresses) == Lookup::Found ? Lookup::Found : found;
}

Lookup lookup_ptr(const std::string &address, std::string &name) {
    in_addr a{};
    if (::inet_pton(AF_INET, address.c_str(), &a) != 1) return Lookup::BadName;
    const auto *b = reinterpret_cast<const unsigned char *>(&a.s_addr);
    std::string reverse = std::to_string(b[3]) + "." + std::to_string(b[2]) + "." + std::to_string(b[1]) + "." +
                          std::to_string(b[0]) + ".in-addr.arpa";
    return query(reverse, DNS_TYPE_PTR, dns_servers(), [&](const DNS_RECORD &r) {
        if (name.empty() && r.Data.PTR.pNameHost) name = r.Data.PTR.pNameHost;
    });
}

Lookup query_mx(const std::string &domain, const std::string &server, std::vector<MxHost> &hosts) {
    return query(domain, DNS_TYPE_MX, server.empty() ? dns_servers() : server, [&](const DNS_RECORD &r) {
        hosts.push_back({r.Data.MX.pNameExchange ? r.Data.MX.pNameExchange : "", r.Data.MX.wPreference});
    });
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
