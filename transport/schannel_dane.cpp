// The TLSA match against SChannel's certificates; see schannel_dane.h.
#include "transport/schannel_dane.h"

#include <bcrypt.h>
#include <schannel.h>
#include <wincrypt.h>

#include "common/text_fill.h"
#include "transport/schannel_certificate.h"
#include "transport/transport_texts.h"

namespace vellor::transport::schannel {
namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// Under DANE-TA the record is the anchor: that the chain ends at no system
// root, or short of one, is no error; nor is revocation left unknown.
constexpr DWORD kNoError = CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN |
                           CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

// The bytes a selector names: the whole certificate (0) or its
// SubjectPublicKeyInfo (1), as DER.
std::string selected(PCCERT_CONTEXT cert, uint8_t selector) {
    if (selector == 0) return std::string(reinterpret_cast<const char *>(cert->pbCertEncoded), cert->cbCertEncoded);
    DWORD size = 0;
    CERT_PUBLIC_KEY_INFO *key = &cert->pCertInfo->SubjectPublicKeyInfo;
    if (!::CryptEncodeObject(kEncoding, X509_PUBLIC_KEY_INFO, key, nullptr, &size) || size == 0) return {};
    std::string der(size, '\0');
    if (!::CryptEncodeObject(kEncoding, X509_PUBLIC_KEY_INFO, key, reinterpret_cast<BYTE *>(der.data()), &size))
        return {};
    der.resize(size);
    return der;
}

// The data as a matching type gives it: itself (0), SHA-256 (1), SHA-512 (2).
std::string matched(const std::string &data, uint8_t matching) {
    if (matching == 0 || data.empty()) return data;
    BCRYPT_ALG_HANDLE alg = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    std::string out(matching == 1 ? 32 : 64, '\0');
    bool ok = BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(
                  &alg, matching == 1 ? BCRYPT_SHA256_ALGORITHM : BCRYPT_SHA512_ALGORITHM, nullptr, 0)) &&
              BCRYPT_SUCCESS(::BCryptCreateHash(alg, &hash, nullptr, 0, nullptr, 0, 0)) &&
              BCRYPT_SUCCESS(::BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char *>(data.data())),
                                              static_cast<ULONG>(data.size()), 0)) &&
              BCRYPT_SUCCESS(
                  ::BCryptFinishHash(hash, reinterpret_cast<PUCHAR>(out.data()), static_cast<ULONG>(out.size()), 0));
    if (hash) ::BCryptDestroyHash(hash);
    if (alg) ::BCryptCloseAlgorithmProvider(alg, 0);
    return ok ? out : std::string();
}

bool matches(const Tlsa &t, PCCERT_CONTEXT cert) {
    std::string got = matched(selected(cert, t.selector), t.matching);
    return !got.empty() && got == t.data;
}

std::string refusal(const std::string &reason, const TlsPeer &peer) {
    return fill(texts::kNotAcceptedName, {reason, peer.name});
}

// Handles closed at the end of the check, whatever its outcome.
struct Held {
    PCCERT_CONTEXT cert = nullptr;
    HCERTSTORE anchors = nullptr, all = nullptr;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    ~Held() {
        if (chain) ::CertFreeCertificateChain(chain);
        if (all) ::CertCloseStore(all, 0);
        if (anchors) ::CertCloseStore(anchors, 0);
        if (cert) ::CertFreeCertificateContext(cert);
    }
};

// The chain from the server's certificates and the records' whole
// certificates; true when some certificate above the server's matches a
// DANE-TA record and nothing else is wrong with the chain.
bool anchored(Held &h, const TlsPeer &peer) {
    h.anchors = ::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    h.all = ::CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
    if (!h.anchors || !h.all) return false;
    for (const Tlsa &t : peer.dane)
        if (t.usage == 2 && t.selector == 0 && t.matching == 0)
            ::CertAddEncodedCertificateToStore(h.anchors, kEncoding, reinterpret_cast<const BYTE *>(t.data.data()),
                                               static_cast<DWORD>(t.data.size()), CERT_STORE_ADD_ALWAYS, nullptr);
    ::CertAddStoreToCollection(h.all, h.cert->hCertStore, 0, 0);
    ::CertAddStoreToCollection(h.all, h.anchors, 0, 0);
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    if (!::CertGetCertificateChain(nullptr, h.cert, nullptr, h.all, &para, 0, nullptr, &h.chain) || !h.chain ||
        h.chain->cChain == 0)
        return false;
    const CERT_SIMPLE_CHAIN *simple = h.chain->rgpChain[0];
    bool found = false;
    for (DWORD i = 1; i < simple->cElement && !found; ++i)
        for (const Tlsa &t : peer.dane)
            found = found || (t.usage == 2 && matches(t, simple->rgpElement[i]->pCertContext));
    return found && (h.chain->TrustStatus.dwErrorStatus & ~kNoError) == 0;
}

}  // namespace

bool dane_accepted(const CtxtHandle *context, const TlsPeer &peer, std::string &why) {
    Held h;
    if (::QueryContextAttributesA(const_cast<CtxtHandle *>(context), SECPKG_ATTR_REMOTE_CERT_CONTEXT, &h.cert) !=
            SEC_E_OK ||
        !h.cert) {
        why = refusal(texts::kNoCertificateSent, peer);
        return false;
    }
    for (const Tlsa &t : peer.dane)
        if (t.usage == 3 && matches(t, h.cert)) return true;
    if (anchored(h, peer) && certificate_names_host(h.cert, peer.name)) return true;
    why = refusal(texts::kNoTlsaMatched, peer);
    return false;
}

}  // namespace vellor::transport::schannel
