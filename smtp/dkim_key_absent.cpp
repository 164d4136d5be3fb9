// A build without OpenSSL: no DKIM key can be loaded, so nothing is signed
// or hashed.
#include "smtp/dkim_key.h"

namespace vellor::smtp::dkim {

Sha256::Sha256() = default;
Sha256::~Sha256() = default;
void Sha256::update(const char *, std::size_t) {}
std::array<unsigned char, 32> Sha256::finish() { return {}; }

std::shared_ptr<const SigningKey> SigningKey::load(const std::string &, std::string &why) {
    why = "DKIM signing is not available in this build";
    return nullptr;
}
SigningKey::~SigningKey() = default;
std::string SigningKey::sign(std::string_view, std::string &why) const {
    why = "DKIM signing is not available in this build";
    return {};
}
std::string SigningKey::dns_record() const { return {}; }
std::string base64(const unsigned char *, std::size_t) { return {}; }

}  // namespace vellor::smtp::dkim
