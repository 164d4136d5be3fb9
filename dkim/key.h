// The DKIM signing key and the hash, with OpenSSL 3: a PEM private key read
// from its file (RSA of 2048 bits or more, or Ed25519), the signature over
// the signing input (RSASSA-PKCS1-v1_5 with SHA-256, or Ed25519 over the
// input's SHA-256 as RFC 8463 has it), the DNS TXT record that publishes
// the public half, and SHA-256 fed in pieces. The Windows build
// (key_cng.cpp) does the same with the system's CNG, RSA only: an
// Ed25519 key is refused when loaded, saying so.
#pragma once
#include <array>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "dkim/canon.h"

namespace vellor::dkim {

class Sha256 final : public ByteSink {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;
    void update(const char *data, std::size_t n) override;
    std::array<unsigned char, 32> finish();

private:
    void *ctx_ = nullptr;
};

class SigningKey {
public:
    // The key in `file`; null with the reason in `why`.
    static std::shared_ptr<const SigningKey> load(const std::string &file, std::string &why);
    ~SigningKey();
    SigningKey(const SigningKey &) = delete;
    SigningKey &operator=(const SigningKey &) = delete;

    const char *algorithm() const { return ed25519_ ? "ed25519-sha256" : "rsa-sha256"; }
    // The Base64 characters of every signature this key makes.
    std::size_t signature_chars() const { return 4 * ((signature_bytes_ + 2) / 3); }
    // The signature of `input`, Base64; empty with the reason in `why`.
    std::string sign(std::string_view input, std::string &why) const;
    // "v=DKIM1; k=rsa; p=..." or "v=DKIM1; k=ed25519; p=...".
    std::string dns_record() const;

private:
    SigningKey(void *pkey, void *ready, bool ed25519, std::size_t signature_bytes)
        : pkey_(pkey), ready_(ready), ed25519_(ed25519), signature_bytes_(signature_bytes) {}
    void *pkey_;
    bool copy_ready(void *ctx) const;
    void *ready_;  // a signing context set up once with the key (OpenSSL), or null
    mutable std::mutex ready_lock_;
    bool ed25519_;
    std::size_t signature_bytes_;
};

std::string base64(const unsigned char *data, std::size_t n);

}  // namespace vellor::dkim
