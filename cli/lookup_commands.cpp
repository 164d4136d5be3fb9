// vellor mx, dns, details and version: the library's lookups and message
// file reading, and what versions are in use.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "dkim_record.h"
#include "send_guards.h"
#include "system.h"
#include "app_memory.h"

namespace cli {
namespace {

std::string format_mx_line(const char *host, int preference, const std::string &address) {
    char line[512];
    std::snprintf(line, sizeof line, "%-40s %10d  %s\n", host, preference, address.c_str());
    return line;
}

// An explicit DNS server serves the exchangers' address lookups too.
void use_dns(const std::string &dns) {
    if (!dns.empty()) sys::set_env("KORVEXAPI_DNS_SERVERS", dns);
}

// The IPv6 addresses of a host (VELLOR_Get_Host_Addresses).
std::vector<std::string> ipv6_addresses(const char *host) {
    VELLOR_HOST_ADDRESSES found;
    std::vector<std::string> out;
    if (VELLOR_Get_Host_Addresses(host, VELLOR_FAMILY_IPV6, &found) != 0) return out;
    for (int i = 0; i < found.nAddresses && i < VELLOR_MAX_HOST_ADDRESSES; ++i) out.push_back(found.szAddress[i]);
    return out;
}

// The exchangers with their IPv4 addresses as the library resolves them,
// then a line for each IPv6 address of each exchanger.
int run_mx(const std::string &domain, const std::string &dns, bool names_only) {
    use_dns(dns);
    VALIDMXIPS list, names;
    std::memset(&list, 0, sizeof list);
    std::memset(&names, 0, sizeof names);
    int rc = VELLOR_resolve_mx_domain(domain.c_str(), dns.c_str(), &list, 0, names_only ? 0 : 1);
    std::vector<std::string> v6_lines;
    if (!names_only && VELLOR_resolve_mx_domain(domain.c_str(), dns.c_str(), &names, 0, 0) == 0)
        for (int i = 0; i < names.nValidIPs && i < VELLOR_MAX_VALID_MX; ++i)
            for (const std::string &a : ipv6_addresses(names.szMxHost[i]))
                v6_lines.push_back(format_mx_line(names.szMxHost[i], names.nPreference[i], a));
    if ((rc != 0 || list.nValidIPs == 0) && v6_lines.empty()) {
        std::fprintf(stderr, "vellor: no mail exchanger found for %s (result %d)\n", domain.c_str(), rc);
        return rc == -3 || rc == -1 ? 75 : 69;
    }
    std::printf("%-40s %10s  %s\n", "exchanger", "preference", names_only ? "" : "address");
    for (int i = 0; rc == 0 && i < list.nValidIPs && i < VELLOR_MAX_VALID_MX; ++i)
        std::printf(
            "%s", format_mx_line(list.szMxHost[i], list.nPreference[i], names_only ? "" : list.szIPAddress[i]).c_str());
    for (const std::string &line : v6_lines) std::printf("%s", line.c_str());
    return 0;
}

// A forward lookup prints each IPv4 address, then each IPv6 one; a dotted
// address is looked up in reverse.
int run_dns(const std::string &name, const std::string &dns) {
    use_dns(dns);
    SMTPSEND_STRUCTURE r;
    std::memset(&r, 0, sizeof r);
    bool reverse = is_dotted_ipv4(name);
    char *field = reverse ? r.szServerIP : r.szServer;
    std::size_t size = reverse ? sizeof r.szServerIP : sizeof r.szServer;
    if (name.size() >= size) {
        std::fprintf(stderr, "vellor: name too long\n");
        return 64;
    }
    std::memcpy(field, name.c_str(), name.size() + 1);
    std::vector<std::string> v6 = reverse ? std::vector<std::string>() : ipv6_addresses(name.c_str());
    if (VELLOR_Perform_DNS_Lookup("vellor", &r) != 0 && v6.empty()) {
        VELLOR_Get_Error_Details(&r);
        std::fprintf(stderr, "vellor: %s\n", r.szErrorText);
        return 75;
    }
    if (reverse) std::printf("%s\t%s\n", name.c_str(), r.szServer);
    for (int i = 0; !reverse && i < r.nMxIPAddresses && i < 8; ++i)
        std::printf("%s\t%s\n", name.c_str(), r.szMxIPAddress[i]);
    for (const std::string &a : v6) std::printf("%s\t%s\n", name.c_str(), a.c_str());
    return 0;
}

int run_details(const std::string &path, const std::string &extension) {
    SMTPSEND_STRUCTURE r;
    std::memset(&r, 0, sizeof r);
    if (path.size() >= sizeof r.szMessageFile || extension.size() >= sizeof r.szMsgExtension) {
        std::fprintf(stderr, "vellor: path or extension too long\n");
        return 64;
    }
    std::strcpy(r.szMessageFile, path.c_str());
    std::strcpy(r.szMsgExtension, extension.c_str());
    r.bUseEnvFile = 1;
    int rc = VELLOR_Get_Message_Details(&r);
    std::printf("message:    %s\nsender:     %s\nrecipients: %d\n", r.szMessageFile, r.szSender, r.nRecipients);
    if (r.hRecipients) {
        const char *text = static_cast<const char *>(GlobalLock(r.hRecipients));
        std::printf("list:       %.*s\n", static_cast<int>(strnlen(text, GlobalSize(r.hRecipients))), text);
        GlobalUnlock(r.hRecipients);
        GlobalFree(r.hRecipients);
    } else {
        std::printf("recipient:  %s\n", r.szRecipient);
    }
    if (rc != 0) {
        VELLOR_Get_Error_Details(&r);
        std::fprintf(stderr, "vellor: %s\n", r.szErrorText);
        return 65;
    }
    return 0;
}

int run_version() {
    SMTPINIT_STRUCTURE lib;
    std::memset(&lib, 0, sizeof lib);
    VELLOR_Initialize_Library(&lib, 0, "vellor");
    char date[16] = {0};
    VellorAPI_Get_Build_Date(date);
    std::printf("library   %s build %s (%s), structure revision %u\n", lib.szVersion, lib.szBuild, date,
                static_cast<unsigned>(lib.dwStructRevision));
    std::printf("companion %s build %s, structure revision %u\n", lib.szTcpVersion, lib.szTcpBuild,
                static_cast<unsigned>(lib.dwTcpStructRevision));
    std::printf("this build made %s\n", build_time());
    VELLOR_Closedown_Library(&lib, "vellor");
    return 0;
}

}  // namespace

Action add_mx(CLI::App &app) {
    auto domain = std::make_shared<std::string>();
    auto dns = std::make_shared<std::string>();
    auto names = std::make_shared<bool>(false);
    app.add_option("domain", *domain, "Mail domain")->required();
    app.add_option("--dns", *dns, "DNS server to ask (host[:port]); default: the system's");
    app.add_flag("--names-only", *names, "List exchangers without looking up their addresses");
    return [=] { return run_mx(*domain, *dns, *names); };
}

Action add_dns(CLI::App &app) {
    auto name = std::make_shared<std::string>();
    auto dns = std::make_shared<std::string>();
    app.add_option("name", *name, "Host name (forward lookup) or dotted address (reverse)")->required();
    app.add_option("--dns", *dns, "DNS server to ask (host[:port]); default: the system's");
    return [=] { return run_dns(*name, *dns); };
}

Action add_details(CLI::App &app) {
    auto path = std::make_shared<std::string>();
    auto ext = std::make_shared<std::string>();
    app.add_option("path", *path, "Message file, or a queue directory")->required();
    app.add_option("--extension", *ext, "Extension of message files, without the dot");
    return [=] { return run_details(*path, *ext); };
}

Action add_version(CLI::App &) {
    return [] { return run_version(); };
}

// The record as a zone-file line: its name, then the text in quoted
// strings of at most 255 characters each (the most one TXT string holds).
std::string zone_line(const std::string &record, const std::string &selector, const std::string &domain) {
    std::string line = selector + "._domainkey." + domain + (domain.back() == '.' ? "" : ".") + " IN TXT (";
    for (std::size_t at = 0; at < record.size(); at += 255) line += " \"" + record.substr(at, 255) + "\"";
    return line + " )";
}

Action add_dkim_record(CLI::App &app) {
    auto file = std::make_shared<std::string>(), selector = std::make_shared<std::string>(),
         domain = std::make_shared<std::string>();
    app.add_option("KEYFILE", *file, "The PEM private key (RSA of 2048 bits or more, or Ed25519)")->required();
    app.add_option("--selector", *selector, "With --domain: print a zone-file line for SELECTOR._domainkey.DOMAIN");
    app.add_option("--domain", *domain, "The signing domain (d=) of the zone-file line");
    app.footer("Publish the record as a TXT record at SELECTOR._domainkey.DOMAIN.");
    return [=] {
        if (selector->empty() != domain->empty()) {
            std::fprintf(stderr, "vellor: give both --selector and --domain, or neither\n");
            return 64;
        }
        std::string why, record = dkim_record(*file, why);
        if (record.empty()) {
            std::fprintf(stderr, "vellor: %s\n", why.c_str());
            return *file == "" || why.rfind("cannot read", 0) == 0 ? 66 : 65;
        }
        std::printf("%s\n", selector->empty() ? record.c_str() : zone_line(record, *selector, *domain).c_str());
        return 0;
    };
}

std::string version_text() {
    char version[24] = {0}, build[12] = {0}, date[16] = {0};
    DWORD revision = 0;
    VellorAPI_Library_Version(version, build, &revision);
    VellorAPI_Get_Build_Date(date);
    return std::string("vellor ") + version + " (library build " + build + ", " + date + ")";
}

}  // namespace cli
