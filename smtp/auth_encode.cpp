// Login data encoding, in memory only.
#include "smtp/auth_encode.h"

#include <cstring>

#include "support/text.h"

namespace vellor {
namespace {

constexpr std::size_t kField = 128;

std::string encode_field(char *field) {
    std::size_t n = ::strnlen(field, kField);
    std::string encoded = base64_line(reinterpret_cast<const unsigned char *>(field), n);
    // The record keeps the encoded value when it fits; a longer one is never
    // written cut: the field keeps the caller's text (the login goes out whole).
    if (encoded.size() < kField) (void)set_field(field, kField, encoded);
    return encoded;
}

}  // namespace

std::string base64_line(const unsigned char *d, std::size_t n) {
    static const char *a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((n + 2) / 3 * 4);
    for (std::size_t i = 0; i < n; i += 3) {
        unsigned v = d[i] << 16;
        if (i + 1 < n) v |= d[i + 1] << 8;
        if (i + 2 < n) v |= d[i + 2];
        out += a[(v >> 18) & 63];
        out += a[(v >> 12) & 63];
        out += i + 1 < n ? a[(v >> 6) & 63] : '=';
        out += i + 2 < n ? a[v & 63] : '=';
    }
    return out;
}

EncodedLogin SMTP_Encode_Auth_Data(char *user, char *password) {
    EncodedLogin out;
    if (user[0] == '\0') {
        password[0] = '\0';
        return out;
    }
    out.user = encode_field(user);
    if (password[0] != '\0') out.password = encode_field(password);
    return out;
}

}  // namespace vellor
