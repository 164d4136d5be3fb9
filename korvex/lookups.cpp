// The companion's lookup operations: forward and reverse host lookups into
// the session record, lookups of both families into KORVEX_ADDRESSES, MX
// queries into MXQUERY_STRUCTURE, and the default DNS server. MX status values: 1 success; -1 server failure, refusal
// or unreachable server; -2 no such domain; -3 no answer within the time-out; -4 malformed answer or bad name; -9 the
// domain has no MX record. A mail-exchanger name longer than 415 characters is cut to fit.
#include <algorithm>
#include <cstring>

#include "common/export_guard.h"
#include "korvex/korvex_internal.h"

using namespace korvex;

namespace {

// The companion's checked copy into a fixed field: the whole text, or
// nothing (an empty field and false), never a cut one.
bool copy_text(char *dst, std::size_t size, const std::string &src) {
    bool fits = src.size() < size;
    std::size_t n = fits ? src.size() : 0;
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
    return fits;
}

int32_t mx_status(Lookup status, std::size_t hosts) {
    switch (status) {
        case Lookup::Found:
            return hosts ? KORVEX_MX_OK : KORVEX_MX_NO_RECORDS;
        case Lookup::NoData:
            return KORVEX_MX_NO_RECORDS;
        case Lookup::NoDomain:
            return KORVEX_MX_NO_DOMAIN;
        case Lookup::TimedOut:
            return KORVEX_MX_TIMEOUT;
        case Lookup::ServerFailed:
            return KORVEX_MX_SERVER_FAIL;
        default:
            return KORVEX_MX_BAD_ANSWER;
    }
}

// Appends the addresses of one family's lookup that fit a record entry.
void add_found(KORVEX_ADDRESSES &out, const std::vector<std::string> &found) {
    for (const std::string &a : found) {
        if (out.nAddresses >= KORVEX_MAX_ADDRESSES) return;
        if (copy_text(out.szAddress[out.nAddresses], KORVEX_ADDRESS_CHARS, a)) ++out.nAddresses;
    }
}

}  // namespace

extern "C" {

KORVEX_API int32_t KorvexAPI_Get_Host_Addresses(const char *hostName, int32_t family, KORVEX_ADDRESSES *found) {
    return vellor::guarded(-1, [&]() -> int32_t {
        if (!found) return -1;
        std::memset(found, 0, sizeof *found);
        std::string host = hostName ? std::string(hostName, ::strnlen(hostName, 1024)) : std::string();
        if (host.empty() || !network_ready()) return -1;
        std::vector<std::string> v4, v6;
        if (family != KORVEX_FAMILY_IPV6 && lookup_ipv4(host, v4) == Lookup::Found) add_found(*found, v4);
        if (family != KORVEX_FAMILY_IPV4 && lookup_ipv6(host, v6) == Lookup::Found) add_found(*found, v6);
        return found->nAddresses > 0 ? 0 : -1;
    });
}

KORVEX_API int32_t KorvexAPI_Get_IPAddress_From_Hostname(TCPLIBRARY_STRUCTURE *, TCPSESSION_STRUCTURE *session,
                                                         const char *hostName, char *address) {
    return vellor::guarded(-1, [&]() -> int32_t {
        if (!session || !hostName) return -1;
        std::string host(hostName, ::strnlen(hostName, 1024));
        std::vector<std::string> found;
        if (host.empty() || lookup_ipv4(host, found) != Lookup::Found) {
            session->nAddresses = 0;
            return -1;
        }
        std::size_t n = std::min<std::size_t>(found.size(), 8);
        for (std::size_t i = 0; i < n; ++i) copy_text(session->szAddress[i], sizeof session->szAddress[i], found[i]);
        session->nAddresses = static_cast<int16_t>(n);
        if (address) copy_text(address, 16, found[0]);
        return 0;
    });
}

KORVEX_API int32_t KorvexAPI_Get_Host_By_Address(TCPLIBRARY_STRUCTURE *, TCPSESSION_STRUCTURE *session,
                                                 char *hostName) {
    return vellor::guarded(-1, [&]() -> int32_t {
        if (!session || !hostName) return -1;
        std::string addr(session->szHostAddress, ::strnlen(session->szHostAddress, sizeof session->szHostAddress));
        std::string name;
        if (lookup_ptr(addr, name) != Lookup::Found) return -1;
        return copy_text(hostName, 256, name) ? 0 : -1;
    });
}

KORVEX_API int32_t KorvexAPI_Dns_Get_Mx_Server(const char *domain, MXQUERY_STRUCTURE *answer, int32_t *status,
                                               const char *dnsServer, int32_t useDefaultServer) {
    return vellor::guarded(-1, [&]() -> int32_t {
        if (!answer || !status) return -1;
        answer->nType = 0;
        answer->nMxServers = 0;
        std::string name = domain ? std::string(domain, ::strnlen(domain, 1024)) : std::string();
        std::string server = (!useDefaultServer && dnsServer) ? std::string(dnsServer, ::strnlen(dnsServer, 256)) : "";
        std::vector<MxHost> hosts;
        Lookup rc = name.empty() ? Lookup::BadName : query_mx(name, server, hosts);
        *status = mx_status(rc, hosts.size());
        if (*status != KORVEX_MX_OK) return -1;
        std::size_t n = std::min<std::size_t>(hosts.size(), KORVEX_MAX_MX);
        for (std::size_t i = 0; i < n; ++i) {
            copy_text(answer->mx[i].szMxHost, sizeof answer->mx[i].szMxHost, hosts[i].host);
            answer->mx[i].nPreference = hosts[i].preference;
        }
        answer->nType = 15;
        answer->nMxServers = static_cast<int32_t>(n);
        return 0;
    });
}

KORVEX_API int32_t KorvexAPI_Dns_Query(const char *name, int32_t type, uint8_t *answer, int32_t size, int32_t *length,
                                       int32_t *status, int32_t *loopback) {
    return vellor::guarded(-1, [&]() -> int32_t {
        if (!answer || !length || !status || !loopback || size <= 0 || type <= 0 || type > 65535) return -1;
        *length = 0;
        *loopback = 0;
        std::string text = name ? std::string(name, ::strnlen(name, 1024)) : std::string(), got;
        bool near = false;
        Lookup rc = text.empty() ? Lookup::BadName : query_dnssec(text, static_cast<uint16_t>(type), got, near);
        *status = rc == Lookup::Found ? KORVEX_MX_OK : mx_status(rc, 0);
        if (rc != Lookup::Found) return -1;
        if (got.size() > static_cast<std::size_t>(size)) {  // never a cut answer
            *status = KORVEX_MX_BAD_ANSWER;
            return -1;
        }
        std::copy(got.begin(), got.end(), answer);  // bytes, not a text
        *length = static_cast<int32_t>(got.size());
        *loopback = near ? 1 : 0;
        return 0;
    });
}

KORVEX_API int32_t KorvexAPI_Get_Default_Dns_Server(char *buffer) {
    return vellor::guarded(-1, [&]() -> int32_t {
        if (!buffer) return -1;
        buffer[0] = '\0';
        std::vector<std::string> servers = default_servers();
        if (servers.empty()) return -1;
        return copy_text(buffer, 24, servers.front()) ? 0 : -1;
    });
}

}  // extern "C"
