// Typed helpers over the companion's operations and session record.
#include "transport/companion.h"

#include <cstdlib>
#include <cstring>

#include "platform/winsock.h"

namespace vellor::transport {
namespace {

// The text of a fixed field, up to its first NUL or its size.
template <std::size_t N>
std::string text_of(const char (&field)[N]) {
    return std::string(field, ::strnlen(field, N));
}

}  // namespace

TCPLIBRARY_STRUCTURE *send_block() {
    static TCPLIBRARY_STRUCTURE block;
    return &block;
}

int timeout_ms() {
    const char *v = std::getenv("KORVEXAPI_TIMEOUT_MS");
    char *end = nullptr;
    long n = v && *v ? std::strtol(v, &end, 10) : 0;
    return end && *end == '\0' && n > 0 && n < (1L << 30) ? static_cast<int>(n) : 60000;
}

void library_start(TCPLIBRARY_STRUCTURE *block, const char *name) { KorvexAPI_Initialize_Library(block, 0, 1, name); }

void session_start(TCPLIBRARY_STRUCTURE *block, TCPSESSION_STRUCTURE *session) {
    std::memset(session, 0, sizeof *session);
    KorvexAPI_Initialize_Structure(block, session);
}

bool network_start(TCPLIBRARY_STRUCTURE *block, int32_t mode) { return KorvexAPI_Start_Winsock(block, mode) == 0; }

void network_stop(TCPLIBRARY_STRUCTURE *block) { KorvexAPI_Stop_Winsock(block); }

void library_close(TCPLIBRARY_STRUCTURE *block, const char *name) { KorvexAPI_Closedown_Library(block, name); }

CompanionVersion companion_version() {
    char version[24] = {0}, build[12] = {0};
    CompanionVersion v;
    KorvexAPI_Library_Version(version, build, &v.revision);
    v.version = text_of(version);
    v.build = text_of(build);
    return v;
}

bool set_target(TCPSESSION_STRUCTURE *s, const std::string &address, int32_t port) {
    bool fits = address.size() < sizeof s->szHostAddress;
    std::memset(s->szHostAddress, 0, sizeof s->szHostAddress);
    if (fits) std::memcpy(s->szHostAddress, address.data(), address.size());
    s->nPort = static_cast<uint32_t>(port);
    return fits;
}

std::string host_address(const TCPSESSION_STRUCTURE *s) { return text_of(s->szHostAddress); }
std::string first_address(const TCPSESSION_STRUCTURE *s) { return text_of(s->szAddress[0]); }
int addresses(const TCPSESSION_STRUCTURE *s) { return s->nAddresses; }

bool resolve_host(TCPLIBRARY_STRUCTURE *block, TCPSESSION_STRUCTURE *s, const std::string &host, std::string &address) {
    char out[16] = {0};
    if (KorvexAPI_Get_IPAddress_From_Hostname(block, s, host.c_str(), out) == -1) return false;
    address = text_of(out);
    return true;
}

bool host_addresses(const std::string &host, int32_t family, std::vector<std::string> &out) {
    KORVEX_ADDRESSES found{};
    out.clear();
    if (KorvexAPI_Get_Host_Addresses(host.c_str(), family, &found) != 0) return false;
    for (int i = 0; i < found.nAddresses && i < KORVEX_MAX_ADDRESSES; ++i) out.push_back(text_of(found.szAddress[i]));
    return !out.empty();
}

int family_of(const std::string &address) { return winsock::address_family(address); }

int source_check(TCPLIBRARY_STRUCTURE *block, TCPSESSION_STRUCTURE *s, const std::string &source) {
    KORVEX_ADDRESSES none{};  // no target: only the source is checked
    int16_t kept = s->nLastError;
    int32_t rc = KorvexAPI_Connect_Addresses(block, s, &none, 0, source.c_str(), nullptr);
    int code = rc == -2 ? s->nLastError : 0;
    s->nLastError = kept;
    return code;
}

int32_t mx_query(const char *domain, MXQUERY_STRUCTURE *answer, const char *server, int32_t useDefaultServer) {
    int32_t status = 0;
    KorvexAPI_Dns_Get_Mx_Server(domain, answer, &status, server, useDefaultServer);
    return status;
}

int32_t default_dns_server(char *buffer) { return KorvexAPI_Get_Default_Dns_Server(buffer); }

int32_t dnssec_query(const std::string &name, uint16_t type, std::string &answer, bool &loopback) {
    std::string buf(65535, '\0');
    int32_t length = 0, status = KORVEX_MX_BAD_ANSWER, near = 0;
    KorvexAPI_Dns_Query(name.c_str(), type, reinterpret_cast<uint8_t *>(buf.data()), static_cast<int32_t>(buf.size()),
                        &length, &status, &near);
    answer = status == KORVEX_MX_OK ? buf.substr(0, static_cast<std::size_t>(length)) : std::string();
    loopback = near != 0;
    return status;
}

bool lookup_addresses(TCPLIBRARY_STRUCTURE *block, TCPSESSION_STRUCTURE *s, const std::string &host) {
    char scratch[24] = {0};
    return KorvexAPI_Get_IPAddress_From_Hostname(block, s, host.c_str(), scratch) != -1;
}

bool lookup_name(TCPLIBRARY_STRUCTURE *block, TCPSESSION_STRUCTURE *s, char *name) {
    return KorvexAPI_Get_Host_By_Address(block, s, name) != -1;
}

void session_check(TCPLIBRARY_STRUCTURE *block) {
    TCPSESSION_STRUCTURE session;
    session_start(block, &session);
}

HostLookup::HostLookup(const char *name) {
    std::memset(&block_, 0, sizeof block_);
    library_start(&block_, name);
    session_start(&block_, &session_);
}

int HostLookup::lookup(const std::string &host) {
    char scratch[24] = {0};
    KorvexAPI_Get_IPAddress_From_Hostname(&block_, &session_, host.c_str(), scratch);
    return session_.nAddresses;
}

std::string HostLookup::address(int i) const {
    return i >= 0 && i < 8 ? text_of(session_.szAddress[i]) : std::string();
}

bool HostLookup::start_network(int32_t mode) { return network_start(&block_, mode); }
void HostLookup::stop_network() { network_stop(&block_); }
void HostLookup::close(const char *name) { library_close(&block_, name); }
bool HostLookup::found(const std::string &host) { return lookup_addresses(&block_, &session_, host); }

bool HostLookup::name_of(const std::string &address, char *name) {
    (void)set_target(&session_, address, 0);
    return lookup_name(&block_, &session_, name);
}

}  // namespace vellor::transport
