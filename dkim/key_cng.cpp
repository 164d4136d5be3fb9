// DKIM keys, signatures and SHA-256 on Windows, with the system's CNG
// (bcrypt) and its ASN.1 decoders (crypt32): a PEM RSA private key
// (PKCS #8 "PRIVATE KEY" or PKCS #1 "RSA PRIVATE KEY", 2048 bits or more,
// no passphrase) turned into a CNG key pair, RSASSA-PKCS1-v1_5 over the
// input's SHA-256. CNG has no Ed25519 signing: such a key is refused when
// it is loaded, with a reason that says so, so the send fails before it
// connects.
#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstring>

#include "platform/small_file.h"
#include "dkim/key.h"
#include "support/report_texts.h"
#include "support/text.h"

namespace vellor::dkim {
namespace {

constexpr DWORD kRsaMinBits = 2048;
// The algorithm identifiers' DER (the OID's content octets).
const std::string kRsaOid("\x2a\x86\x48\x86\xf7\x0d\x01\x01\x01", 9);
const std::string kEd25519Oid("\x2b\x65\x70", 3);

// One DER element at `at` of tag `tag`: its content, `at` moved past it.
bool der_element(const std::string &der, std::size_t &at, unsigned char tag, std::string &content) {
    if (at + 2 > der.size() || static_cast<unsigned char>(der[at]) != tag) return false;
    std::size_t len = static_cast<unsigned char>(der[at + 1]), head = 2;
    if (len & 0x80) {
        std::size_t bytes = len & 0x7f;
        if (bytes == 0 || bytes > 4 || at + 2 + bytes > der.size()) return false;
        len = 0;
        for (std::size_t i = 0; i < bytes; ++i) len = len << 8 | static_cast<unsigned char>(der[at + 2 + i]);
        head += bytes;
    }
    if (len > der.size() - at - head) return false;
    content = der.substr(at + head, len);
    at += head + len;
    return true;
}

// PKCS #8 PrivateKeyInfo: SEQUENCE { INTEGER version, SEQUENCE { OID, ... },
// OCTET STRING key }.
bool pkcs8_parts(const std::string &der, std::string &oid, std::string &key) {
    std::string info, version, algorithm;
    std::size_t at = 0, in = 0, alg_at = 0;
    return der_element(der, at, 0x30, info) && der_element(info, in, 0x02, version) &&
           der_element(info, in, 0x30, algorithm) && der_element(algorithm, alg_at, 0x06, oid) &&
           der_element(info, in, 0x04, key);
}

struct Sha256State {
    BCRYPT_ALG_HANDLE alg = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
};

struct CngKey {
    BCRYPT_ALG_HANDLE alg = nullptr;
    BCRYPT_KEY_HANDLE key = nullptr;
    std::string public_info;  // SubjectPublicKeyInfo, Base64
    ~CngKey() {
        if (key) ::BCryptDestroyKey(key);
        if (alg) ::BCryptCloseAlgorithmProvider(alg, 0);
    }
};

// crypt32's allocations, freed with LocalFree.
struct Local {
    void *p = nullptr;
    ~Local() {
        if (p) ::LocalFree(p);
    }
};

bool decode(LPCSTR type, const BYTE *der, DWORD n, Local &out, DWORD &size) {
    return ::CryptDecodeObjectEx(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, type, der, n, CRYPT_DECODE_ALLOC_FLAG,
                                 nullptr, &out.p, &size) != 0;
}

// The DER of the file's first private-key block, and whether it is PKCS #8.
bool pem_key(const std::string &pem, std::string &der, bool &pkcs8) {
    for (const char *label : {"PRIVATE KEY", "RSA PRIVATE KEY"}) {
        std::string begin = std::string("-----BEGIN ") + label + "-----";
        std::size_t at = pem.find(begin);
        std::size_t stop = pem.find(std::string("-----END ") + label + "-----", at);
        if (at == std::string::npos || stop == std::string::npos) continue;
        std::string block = pem.substr(at + begin.size(), stop - at - begin.size());
        DWORD size = 0;
        if (!::CryptStringToBinaryA(block.data(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64, nullptr, &size,
                                    nullptr, nullptr))
            return false;
        der.assign(size, '\0');
        pkcs8 = label[0] == 'P';
        return ::CryptStringToBinaryA(block.data(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64,
                                      reinterpret_cast<BYTE *>(&der[0]), &size, nullptr, nullptr) != 0;
    }
    return false;
}

void append_big_endian(std::string &out, const BYTE *little, std::size_t n) {
    for (std::size_t i = n; i > 0; --i) out += static_cast<char>(little[i - 1]);
}

// The legacy private-key blob (little-endian modulus and primes after its
// headers) as CNG's BCRYPT_RSAPRIVATE_BLOB (big-endian).
std::string cng_private_blob(const BYTE *legacy) {
    const auto *pub = reinterpret_cast<const RSAPUBKEY *>(legacy + sizeof(BLOBHEADER));
    const BYTE *modulus = legacy + sizeof(BLOBHEADER) + sizeof(RSAPUBKEY);
    DWORD bytes = pub->bitlen / 8, half = pub->bitlen / 16;
    BYTE exponent[4];
    std::memcpy(exponent, &pub->pubexp, 4);
    DWORD exponent_len = 4;
    while (exponent_len > 1 && exponent[exponent_len - 1] == 0) --exponent_len;
    BCRYPT_RSAKEY_BLOB head{BCRYPT_RSAPRIVATE_MAGIC, pub->bitlen, exponent_len, bytes, half, half};
    std::string blob(reinterpret_cast<const char *>(&head), sizeof head);
    append_big_endian(blob, exponent, exponent_len);
    append_big_endian(blob, modulus, bytes);
    append_big_endian(blob, modulus + bytes, half);
    append_big_endian(blob, modulus + bytes + half, half);
    return blob;
}

// The public half as a SubjectPublicKeyInfo, Base64 (the DNS record's p=).
std::string public_info(const BYTE *legacy) {
    const auto *pub = reinterpret_cast<const RSAPUBKEY *>(legacy + sizeof(BLOBHEADER));
    std::string blob(legacy, legacy + sizeof(BLOBHEADER) + sizeof(RSAPUBKEY) + pub->bitlen / 8);
    auto *head = reinterpret_cast<BLOBHEADER *>(&blob[0]);
    head->bType = PUBLICKEYBLOB;
    reinterpret_cast<RSAPUBKEY *>(&blob[sizeof(BLOBHEADER)])->magic = 0x31415352;  // "RSA1"
    Local rsa, spki;
    DWORD rsa_len = 0, spki_len = 0;
    if (!::CryptEncodeObjectEx(X509_ASN_ENCODING, RSA_CSP_PUBLICKEYBLOB, blob.data(), CRYPT_ENCODE_ALLOC_FLAG, nullptr,
                               &rsa.p, &rsa_len))
        return {};
    BYTE null_params[] = {0x05, 0x00};
    char oid[] = szOID_RSA_RSA;
    CERT_PUBLIC_KEY_INFO info{};
    info.Algorithm.pszObjId = oid;
    info.Algorithm.Parameters = {sizeof null_params, null_params};
    info.PublicKey = {rsa_len, static_cast<BYTE *>(rsa.p), 0};
    if (!::CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, &info, CRYPT_ENCODE_ALLOC_FLAG, nullptr,
                               &spki.p, &spki_len))
        return {};
    return base64(static_cast<const unsigned char *>(spki.p), spki_len);
}

// The RSA key of `der` (PKCS #1) imported into CNG; null with why.
std::unique_ptr<CngKey> import_rsa(const BYTE *der, DWORD n, std::string &why) {
    Local legacy;
    DWORD size = 0;
    if (!decode(PKCS_RSA_PRIVATE_KEY, der, n, legacy, size) || size < sizeof(BLOBHEADER) + sizeof(RSAPUBKEY)) {
        why = fill(texts::kNoPrivateKey, {texts::kRsaUndecoded});
        return nullptr;
    }
    const BYTE *blob = static_cast<const BYTE *>(legacy.p);
    DWORD bits = reinterpret_cast<const RSAPUBKEY *>(blob + sizeof(BLOBHEADER))->bitlen;
    if (bits < kRsaMinBits) {
        why = fill(texts::kRsaBits, {std::to_string(bits)});
        return nullptr;
    }
    auto key = std::make_unique<CngKey>();
    std::string cng = cng_private_blob(blob);
    key->public_info = public_info(blob);
    if (::BCryptOpenAlgorithmProvider(&key->alg, BCRYPT_RSA_ALGORITHM, nullptr, 0) != 0 ||
        ::BCryptImportKeyPair(key->alg, nullptr, BCRYPT_RSAPRIVATE_BLOB, &key->key, reinterpret_cast<PUCHAR>(&cng[0]),
                              static_cast<ULONG>(cng.size()), 0) != 0) {
        why = texts::kCngNoRsa;
        return nullptr;
    }
    return key;
}

// The PKCS #1 DER of the PEM text's RSA key; false with why for anything
// else (an Ed25519 key named as such).
bool rsa_der(const std::string &pem, std::string &rsa, std::string &why) {
    std::string der, oid;
    bool pkcs8 = false;
    if (!pem_key(pem, der, pkcs8)) {
        why = fill(texts::kNoPrivateKey, {texts::kNotPemKey});
        return false;
    }
    if (!pkcs8) {
        rsa = der;
        return true;
    }
    if (!pkcs8_parts(der, oid, rsa)) {
        why = fill(texts::kNoPrivateKey, {texts::kPkcs8Unread});
        return false;
    }
    if (oid == kEd25519Oid) {
        why = texts::kCngNoEd25519;
        return false;
    }
    if (oid != kRsaOid) {
        why = texts::kCngRsaOnly;
        return false;
    }
    return true;
}

}  // namespace

std::string base64(const unsigned char *data, std::size_t n) {
    DWORD len = 0;
    DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    if (n == 0 || !::CryptBinaryToStringA(data, static_cast<DWORD>(n), flags, nullptr, &len)) return {};
    std::string out(len, '\0');
    if (!::CryptBinaryToStringA(data, static_cast<DWORD>(n), flags, &out[0], &len)) return {};
    out.resize(len);
    return out;
}

Sha256::Sha256() {
    auto *s = new Sha256State;
    if (::BCryptOpenAlgorithmProvider(&s->alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0)
        ::BCryptCreateHash(s->alg, &s->hash, nullptr, 0, nullptr, 0, 0);
    ctx_ = s;
}

Sha256::~Sha256() {
    auto *s = static_cast<Sha256State *>(ctx_);
    if (s->hash) ::BCryptDestroyHash(s->hash);
    if (s->alg) ::BCryptCloseAlgorithmProvider(s->alg, 0);
    delete s;
}

void Sha256::update(const char *data, std::size_t n) {
    auto *s = static_cast<Sha256State *>(ctx_);
    while (s->hash && n > 0) {
        ULONG piece = static_cast<ULONG>(std::min<std::size_t>(n, 1u << 30));
        ::BCryptHashData(s->hash, reinterpret_cast<PUCHAR>(const_cast<char *>(data)), piece, 0);
        data += piece;
        n -= piece;
    }
}

std::array<unsigned char, 32> Sha256::finish() {
    std::array<unsigned char, 32> out{};
    auto *s = static_cast<Sha256State *>(ctx_);
    if (s->hash) ::BCryptFinishHash(s->hash, out.data(), static_cast<ULONG>(out.size()), 0);
    return out;
}

std::shared_ptr<const SigningKey> SigningKey::load(const std::string &file, std::string &why) {
    std::string pem, rsa;
    if (!files::read_small_file(file, 1u << 20, pem, why)) return nullptr;  // never a pipe or a device
    if (!rsa_der(pem, rsa, why)) return nullptr;
    std::unique_ptr<CngKey> key =
        import_rsa(reinterpret_cast<const BYTE *>(rsa.data()), static_cast<DWORD>(rsa.size()), why);
    if (!key) return nullptr;
    BCRYPT_PKCS1_PADDING_INFO padding{BCRYPT_SHA256_ALGORITHM};
    unsigned char digest[32] = {};
    ULONG len = 0;  // the signature's size, asked without signing
    if (::BCryptSignHash(key->key, &padding, digest, 32, nullptr, 0, &len, BCRYPT_PAD_PKCS1) != 0 || len == 0) {
        why = fill(texts::kKeyCannotSign, {texts::kCngRefused});
        return nullptr;
    }
    return std::shared_ptr<const SigningKey>(new SigningKey(key.release(), nullptr, false, len));
}

SigningKey::~SigningKey() { delete static_cast<CngKey *>(pkey_); }

std::string SigningKey::sign(std::string_view input, std::string &why) const {
    Sha256 hash;
    hash.update(input.data(), input.size());
    std::array<unsigned char, 32> digest = hash.finish();
    auto *key = static_cast<CngKey *>(pkey_);
    BCRYPT_PKCS1_PADDING_INFO padding{BCRYPT_SHA256_ALGORITHM};
    std::string sig(signature_bytes_, '\0');  // its size asked once, when the key was loaded
    ULONG len = 0;
    if (::BCryptSignHash(key->key, &padding, digest.data(), 32, reinterpret_cast<PUCHAR>(&sig[0]),
                         static_cast<ULONG>(sig.size()), &len, BCRYPT_PAD_PKCS1) != 0)
        sig.clear();
    if (sig.empty()) {
        why = fill(texts::kKeyCannotSign, {texts::kCngRefused});
        return {};
    }
    return base64(reinterpret_cast<const unsigned char *>(sig.data()), len);
}

std::string SigningKey::dns_record() const { return "v=DKIM1; k=rsa; p=" + static_cast<CngKey *>(pkey_)->public_info; }

}  // namespace vellor::dkim
