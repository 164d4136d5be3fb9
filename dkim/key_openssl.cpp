// DKIM keys, signatures and SHA-256 with OpenSSL's EVP calls.
#include "dkim/key.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "platform/small_file.h"
#include "support/report_texts.h"
#include "support/text.h"

namespace vellor::dkim {
namespace {

constexpr int kRsaMinBits = 2048;
constexpr std::size_t kKeyFileMost = 1u << 20;  // a PEM key is a few kilobytes

EVP_PKEY *key_of(void *p) { return static_cast<EVP_PKEY *>(p); }

std::string openssl_reason() {
    unsigned long e = ERR_get_error();
    ERR_clear_error();
    if (!e) return texts::kNotPemKey;
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    return buf;
}

}  // namespace

std::string base64(const unsigned char *data, std::size_t n) {
    std::string out(4 * ((n + 2) / 3) + 1, '\0');
    int len = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out.data()), data, static_cast<int>(n));
    out.resize(static_cast<std::size_t>(len));
    return out;
}

Sha256::Sha256() {
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    if (ctx) EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
    ctx_ = ctx;
}

Sha256::~Sha256() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX *>(ctx_)); }

void Sha256::update(const char *data, std::size_t n) {
    if (ctx_) EVP_DigestUpdate(static_cast<EVP_MD_CTX *>(ctx_), data, n);
}

std::array<unsigned char, 32> Sha256::finish() {
    std::array<unsigned char, 32> out{};
    unsigned len = 0;
    if (ctx_) EVP_DigestFinal_ex(static_cast<EVP_MD_CTX *>(ctx_), out.data(), &len);
    return out;
}

std::shared_ptr<const SigningKey> SigningKey::load(const std::string &file, std::string &why) {
    std::string pem;
    if (!files::read_small_file(file, kKeyFileMost, pem, why)) return nullptr;
    BIO *bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    if (!bio) {
        why = texts::kKeyFileUnread;
        ERR_clear_error();
        return nullptr;
    }
    EVP_PKEY *pkey = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, const_cast<char *>(""));
    BIO_free(bio);
    if (!pkey) {
        why = fill(texts::kNoPrivateKey, {openssl_reason()});
        return nullptr;
    }
    bool ed = EVP_PKEY_is_a(pkey, "ED25519") == 1;
    if (!ed && EVP_PKEY_is_a(pkey, "RSA") != 1) {
        why = fill(texts::kKeyOfType, {EVP_PKEY_get0_type_name(pkey)});
        EVP_PKEY_free(pkey);
        return nullptr;
    }
    if (!ed && EVP_PKEY_get_bits(pkey) < kRsaMinBits) {
        why = fill(texts::kRsaBits, {std::to_string(EVP_PKEY_get_bits(pkey))});
        EVP_PKEY_free(pkey);
        return nullptr;
    }
    EVP_MD_CTX *ready = EVP_MD_CTX_new();  // set up once, copied for each signature
    if (!ready || EVP_DigestSignInit(ready, nullptr, ed ? nullptr : EVP_sha256(), nullptr, pkey) != 1) {
        why = fill(texts::kKeyCannotSign, {openssl_reason()});
        EVP_MD_CTX_free(ready);
        EVP_PKEY_free(pkey);
        return nullptr;
    }
    auto bytes = static_cast<std::size_t>(EVP_PKEY_get_size(pkey));
    return std::shared_ptr<const SigningKey>(new SigningKey(pkey, ready, ed, bytes));
}

SigningKey::~SigningKey() {
    EVP_MD_CTX_free(static_cast<EVP_MD_CTX *>(ready_));
    EVP_PKEY_free(key_of(pkey_));
}

// The set-up context copied under a lock: a queue over several connections
// signs from several threads with the one key.
bool SigningKey::copy_ready(void *ctx) const {
    std::lock_guard<std::mutex> lock(ready_lock_);
    return EVP_MD_CTX_copy_ex(static_cast<EVP_MD_CTX *>(ctx), static_cast<const EVP_MD_CTX *>(ready_)) == 1;
}

std::string SigningKey::sign(std::string_view input, std::string &why) const {
    unsigned char digest[32];
    const unsigned char *data = reinterpret_cast<const unsigned char *>(input.data());
    std::size_t n = input.size();
    if (ed25519_) {  // Ed25519 signs the input's SHA-256
        unsigned len = 0;
        EVP_Digest(data, n, digest, &len, EVP_sha256(), nullptr);
        data = digest;
        n = sizeof digest;
    }
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    std::string sig(signature_bytes_, '\0'), out;
    std::size_t len = sig.size();
    if (ctx && copy_ready(ctx) &&
        EVP_DigestSign(ctx, reinterpret_cast<unsigned char *>(sig.data()), &len, data, n) == 1)
        out = base64(reinterpret_cast<const unsigned char *>(sig.data()), len);
    EVP_MD_CTX_free(ctx);
    if (out.empty()) why = fill(texts::kKeyCannotSign, {openssl_reason()});
    return out;
}

std::string SigningKey::dns_record() const {
    EVP_PKEY *pkey = key_of(pkey_);
    if (ed25519_) {
        unsigned char raw[32];
        std::size_t len = sizeof raw;
        EVP_PKEY_get_raw_public_key(pkey, raw, &len);
        return "v=DKIM1; k=ed25519; p=" + base64(raw, len);
    }
    unsigned char *der = nullptr;
    int len = i2d_PUBKEY(pkey, &der);
    std::string p = len > 0 ? base64(der, static_cast<std::size_t>(len)) : std::string();
    OPENSSL_free(der);
    return "v=DKIM1; k=rsa; p=" + p;
}

}  // namespace vellor::dkim
