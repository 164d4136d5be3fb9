// The chain is built by CertGetCertificateChain from the Windows store plus
// an additional store (the server's own certificates and the CA file's).
// A chain that ends at one of the CA file's certificates is trusted though
// that CA is no system root; any other error in the chain's status refuses
// it (a chain that stops short of a root included: the SSL policy alone
// lets that pass on some systems). The SSL policy then checks the name;
// for an address, which the policy matches only among DNS names on some
// systems, the certificate's IP entries are compared here instead. A name
// the policy accepts must also match one of the certificate's DNS names
// (its CN when it has none) by the library's own rule: a wildcard stands
// for the whole first label only, over at least two more labels, so
// "*.test" names no host (some systems' policy lets that through).
#include "transport/schannel_certificate.h"

#include "transport/schannel_dane.h"

#include <schannel.h>
#include <ws2tcpip.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "common/text_fill.h"
#include "transport/transport_texts.h"

namespace vellor::transport::schannel {
namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// No revocation check is asked for (as in the OpenSSL build): its "unknown"
// bits are no error.
// The SSL policy's flag for a root that is no system root (wininet.h's).
constexpr DWORD kIgnoreUnknownCa = 0x00000100;
constexpr DWORD kRevocationUnknown = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

// An address in text as its bytes: their count (4 or 16), 0 for a name.
std::size_t parse_address(const std::string &name, unsigned char out[16]) {
    if (::inet_pton(AF_INET, name.c_str(), out) == 1) return 4;
    return ::inet_pton(AF_INET6, name.c_str(), out) == 1 ? 16 : 0;
}

}  // namespace

HCERTSTORE load_ca_file(const std::string &path, std::string &why) {
    std::ifstream in(path, std::ios::binary);
    std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    HCERTSTORE store = in.is_open() ? ::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr) : nullptr;
    int added = 0;
    const std::string begin = "-----BEGIN CERTIFICATE-----", end = "-----END CERTIFICATE-----";
    for (std::size_t at = pem.find(begin); store && at != std::string::npos; at = pem.find(begin, at + 1)) {
        std::size_t stop = pem.find(end, at);
        if (stop == std::string::npos) break;
        std::string block = pem.substr(at, stop + end.size() - at);
        DWORD size = 0;
        if (!::CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                                    &size, nullptr, nullptr))
            continue;
        std::string der(size, '\0');
        if (::CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                                   reinterpret_cast<BYTE *>(&der[0]), &size, nullptr, nullptr) &&
            ::CertAddEncodedCertificateToStore(store, kEncoding, reinterpret_cast<const BYTE *>(der.data()), size,
                                               CERT_STORE_ADD_ALWAYS, nullptr))
            ++added;
    }
    if (added > 0) return store;
    if (store) ::CertCloseStore(store, 0);
    why = fill(texts::kTrustAnchorsUnread, {path, in.is_open() ? texts::kNoCertificateFound : texts::kFileNotOpened});
    return nullptr;
}

namespace {

// Handles closed at the end of the check, whatever its outcome.
struct Held {
    PCCERT_CONTEXT cert = nullptr;
    HCERTSTORE cas = nullptr;  // not owned
    HCERTSTORE extra = nullptr;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    ~Held() {
        if (chain) ::CertFreeCertificateChain(chain);
        if (extra) ::CertCloseStore(extra, 0);
        if (cert) ::CertFreeCertificateContext(cert);
    }
};

bool build_chain(Held &h) {
    h.extra = ::CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
    if (!h.extra || !::CertAddStoreToCollection(h.extra, h.cert->hCertStore, 0, 0)) return false;
    if (h.cas && !::CertAddStoreToCollection(h.extra, h.cas, 0, 0)) return false;
    char server_auth[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {server_auth};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    return ::CertGetCertificateChain(nullptr, h.cert, nullptr, h.extra, &para, 0, nullptr, &h.chain) && h.chain &&
           h.chain->cChain > 0 && h.chain->rgpChain[0]->cElement > 0;
}

PCCERT_CONTEXT chain_top(PCCERT_CHAIN_CONTEXT chain) {
    const CERT_SIMPLE_CHAIN *simple = chain->rgpChain[0];
    return simple->rgpElement[simple->cElement - 1]->pCertContext;
}

bool in_store(HCERTSTORE store, PCCERT_CONTEXT cert) {
    PCCERT_CONTEXT found = ::CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_EXISTING, cert, nullptr);
    if (found) ::CertFreeCertificateContext(found);
    return found != nullptr;
}

std::string chain_error_text(DWORD errors, const Held &h) {
    if (errors & CERT_TRUST_IS_NOT_TIME_VALID) {
        LONG when = ::CertVerifyTimeValidity(nullptr, h.cert->pCertInfo);
        return when > 0 ? texts::kExpired : when < 0 ? texts::kNotYetValid : texts::kChainExpired;
    }
    if (errors & CERT_TRUST_IS_REVOKED) return texts::kRevoked;
    if (errors & CERT_TRUST_IS_NOT_SIGNATURE_VALID) return texts::kBadSignature;
    if (errors & CERT_TRUST_IS_UNTRUSTED_ROOT)
        return h.chain->rgpChain[0]->cElement == 1 ? texts::kSelfSigned : texts::kUntrustedRoot;
    if (errors & CERT_TRUST_IS_PARTIAL_CHAIN) return texts::kNoLocalIssuer;
    if (errors & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return texts::kNotForServer;
    if (errors & CERT_TRUST_INVALID_BASIC_CONSTRAINTS) return texts::kInvalidCa;
    if (errors & CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT) return texts::kPermittedSubtree;
    if (errors & CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT) return texts::kExcludedSubtree;
    if (errors & (CERT_TRUST_INVALID_NAME_CONSTRAINTS | CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT |
                  CERT_TRUST_HAS_NOT_DEFINED_NAME_CONSTRAINT))
        return texts::kNameConstraintType;
    if (errors & CERT_TRUST_INVALID_EXTENSION) return texts::kCriticalExtension;
    char text[48];
    std::snprintf(text, sizeof text, texts::kChainErrorStatus, static_cast<unsigned long>(errors));
    return text;
}

std::string policy_error_text(DWORD error) {
    switch (error) {
        case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
            return texts::kHostnameMismatch;
        case static_cast<DWORD>(CERT_E_EXPIRED):
            return texts::kExpired;
        case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
            return texts::kUntrustedRoot;
        case static_cast<DWORD>(CERT_E_CHAINING):
            return texts::kNoLocalIssuer;
        case static_cast<DWORD>(CERT_E_WRONG_USAGE):
            return texts::kNotForServer;
        case static_cast<DWORD>(CERT_E_REVOKED):
            return texts::kRevoked;
        default:
            break;
    }
    char text[48];
    std::snprintf(text, sizeof text, texts::kPolicyError, static_cast<unsigned long>(error));
    return text;
}

// 0 when the SSL policy accepts the chain for `name` (no name: not checked).
DWORD policy_error(PCCERT_CHAIN_CONTEXT chain, const std::string &name, bool own_ca) {
    std::wstring wide(name.size() + 1, L'\0');
    int n = ::MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.fdwChecks = own_ca ? kIgnoreUnknownCa : 0;
    ssl.pwszServerName = name.empty() || n <= 0 ? nullptr : &wide[0];
    CERT_CHAIN_POLICY_PARA para{};
    para.cbSize = sizeof para;
    para.dwFlags = own_ca ? CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG : 0;
    para.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &para, &status))
        return static_cast<DWORD>(CERT_E_CHAINING);
    return status.dwError;
}

// Calls `each` with every entry of the certificate's alternative names
// (none when it has no such extension, or it cannot be read).
template <typename Each>
void for_alt_names(PCCERT_CONTEXT cert, Each each) {
    const CERT_INFO *info = cert->pCertInfo;
    PCERT_EXTENSION ext = ::CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
    CERT_ALT_NAME_INFO *names = nullptr;
    DWORD size = 0;
    if (!ext || !::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, ext->Value.pbData, ext->Value.cbData,
                                       CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size))
        return;
    for (DWORD i = 0; i < names->cAltEntry; ++i) each(names->rgAltEntry[i]);
    ::LocalFree(names);
}

// The address (4 or 16 bytes) among the certificate's IP entries.
bool names_address(PCCERT_CONTEXT cert, const unsigned char *address, std::size_t size) {
    bool found = false;
    for_alt_names(cert, [&](const CERT_ALT_NAME_ENTRY &e) {
        found = found || (e.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && e.IPAddress.cbData == size &&
                          std::memcmp(e.IPAddress.pbData, address, size) == 0);
    });
    return found;
}

std::string lower_ascii(const wchar_t *wide) {
    std::string out;
    for (; wide && *wide; ++wide) {
        if (*wide > 0x7E || *wide < 0x21) return std::string();  // no host name
        out += static_cast<char>(*wide >= L'A' && *wide <= L'Z' ? *wide + 32 : *wide);
    }
    return out;
}

// The certificate's DNS names, or its CN when it has none.
std::vector<std::string> dns_names(PCCERT_CONTEXT cert) {
    std::vector<std::string> out;
    for_alt_names(cert, [&](const CERT_ALT_NAME_ENTRY &e) {
        if (e.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME) out.push_back(lower_ascii(e.pwszDNSName));
    });
    if (!out.empty()) return out;
    char oid[] = szOID_COMMON_NAME;
    wchar_t cn[256] = L"";
    if (::CertGetNameStringW(cert, CERT_NAME_ATTR_TYPE, 0, oid, cn, 256) > 1) out.push_back(lower_ascii(cn));
    return out;
}

// `pattern` names `host`: the same name, or "*." and two labels or more
// that follow the host's first label.
bool name_matches(const std::string &pattern, const std::string &host) {
    if (pattern.empty()) return false;
    if (pattern == host) return true;
    if (pattern.compare(0, 2, "*.") != 0) return false;
    std::string rest = pattern.substr(2);
    std::size_t dot = host.find('.');
    return rest.find('.') != std::string::npos && rest.find('*') == std::string::npos && dot != std::string::npos &&
           dot > 0 && host.compare(dot + 1, std::string::npos, rest) == 0;
}

bool names_host(PCCERT_CONTEXT cert, const std::string &name) {
    std::string host = name;
    std::transform(host.begin(), host.end(), host.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; });
    std::vector<std::string> names = dns_names(cert);
    return std::any_of(names.begin(), names.end(), [&](const std::string &n) { return name_matches(n, host); });
}

std::string refusal(const std::string &reason, const TlsPeer &peer) {
    return fill(texts::kNotAcceptedChecked, {reason, peer.name});
}

}  // namespace

bool certificate_names_host(PCCERT_CONTEXT cert, const std::string &name) { return names_host(cert, name); }

bool is_address(const std::string &name) {
    unsigned char bytes[16];
    return parse_address(name, bytes) != 0;
}

bool certificate_accepted(const CtxtHandle *context, const TlsPeer &peer, HCERTSTORE cas, std::string &why) {
    if (!peer.verify) return true;
    if (!peer.dane.empty()) return dane_accepted(context, peer, why);
    Held h;
    h.cas = cas;
    if (::QueryContextAttributesA(const_cast<CtxtHandle *>(context), SECPKG_ATTR_REMOTE_CERT_CONTEXT, &h.cert) !=
            SEC_E_OK ||
        !h.cert) {
        why = refusal(texts::kNoCertificateSent, peer);
        return false;
    }
    if (!build_chain(h)) {
        why = refusal(texts::kNoChain, peer);
        return false;
    }
    DWORD errors = h.chain->TrustStatus.dwErrorStatus & ~kRevocationUnknown;
    bool own_ca = false;
    if (h.cas && (errors & CERT_TRUST_IS_UNTRUSTED_ROOT) && in_store(h.cas, chain_top(h.chain))) {
        errors &= ~CERT_TRUST_IS_UNTRUSTED_ROOT;
        own_ca = true;
    }
    if (errors != 0) {
        why = refusal(chain_error_text(errors, h), peer);
        return false;
    }
    unsigned char address[16];
    std::size_t size = parse_address(peer.name, address);
    DWORD policy = policy_error(h.chain, size ? std::string() : peer.name, own_ca);
    if (policy == 0 &&
        (size ? !names_address(h.cert, address, size) : !peer.name.empty() && !names_host(h.cert, peer.name)))
        policy = static_cast<DWORD>(CERT_E_CN_NO_MATCH);
    if (policy != 0) {
        why = refusal(policy_error_text(policy), peer);
        return false;
    }
    return true;
}

}  // namespace vellor::transport::schannel
