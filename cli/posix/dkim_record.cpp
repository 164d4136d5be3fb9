// The DKIM key's public half as a TXT record, with OpenSSL: RSA as its
// SubjectPublicKeyInfo, Ed25519 as its 32 raw bytes, both in Base64.
#include "dkim_record.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>

#include "system.h"

namespace cli {
namespace {

std::string base64(const unsigned char *data, std::size_t n) {
    std::string out(4 * ((n + 2) / 3) + 1, '\0');
    int len = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out.data()), data, static_cast<int>(n));
    out.resize(static_cast<std::size_t>(len));
    return out;
}

std::string public_part(EVP_PKEY *key, std::string &why) {
    if (EVP_PKEY_is_a(key, "ED25519") == 1) {
        unsigned char raw[32];
        std::size_t len = sizeof raw;
        EVP_PKEY_get_raw_public_key(key, raw, &len);
        return "v=DKIM1; k=ed25519; p=" + base64(raw, len);
    }
    if (EVP_PKEY_is_a(key, "RSA") != 1 || EVP_PKEY_get_bits(key) < 2048) {
        why = "not an RSA key of 2048 bits or more, nor an Ed25519 key";
        return {};
    }
    unsigned char *der = nullptr;
    int len = i2d_PUBKEY(key, &der);
    std::string p = len > 0 ? base64(der, static_cast<std::size_t>(len)) : std::string();
    OPENSSL_free(der);
    return "v=DKIM1; k=rsa; p=" + p;
}

}  // namespace

std::string dkim_record(const std::string &key_file, std::string &why) {
    auto pem = sys::read_small_file(key_file, 1u << 20, why);  // never a FIFO or a device
    if (!pem) return {};
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem->data(), static_cast<int>(pem->size())),
                                                  BIO_free);
    if (!bio) {
        why = "cannot read " + key_file;
        return {};
    }
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, const_cast<char *>("")), EVP_PKEY_free);
    if (!key) {
        why = key_file + " holds no PEM private key";
        return {};
    }
    return public_part(key.get(), why);
}

}  // namespace cli
