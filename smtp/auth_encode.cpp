// Login data encoding, in memory only: pure functions of their texts.
#include "smtp/auth_encode.h"

namespace vellor {

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

std::string base64_line(const std::string &text) {
    return base64_line(reinterpret_cast<const unsigned char *>(text.data()), text.size());
}

std::string base64_text(const std::string &line) {
    static const std::string a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned v = 0;
    int bits = 0;
    for (char c : line) {
        std::size_t i = a.find(c);
        if (i == std::string::npos) break;
        v = (v << 6) | static_cast<unsigned>(i);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((v >> bits) & 0xff);
        }
    }
    return out;
}

std::string sasl_plain(const std::string &user, const std::string &password) {
    return base64_line(std::string(1, '\0') + user + std::string(1, '\0') + password);
}

std::string sasl_xoauth2(const std::string &user, const std::string &token) {
    return base64_line("user=" + user +
                       "\x01"
                       "auth=Bearer " +
                       token + "\x01\x01");
}

std::string sasl_oauthbearer(const std::string &user, const std::string &token) {
    std::string name;
    for (char c : user) name += c == ',' ? "=2C" : c == '=' ? "=3D" : std::string(1, c);
    return base64_line("n,a=" + name +
                       ",\x01"
                       "auth=Bearer " +
                       token + "\x01\x01");
}

EncodedLogin SMTP_Encode_Auth_Data(const std::string &user, const std::string &password) {
    EncodedLogin out;
    if (user.empty()) return out;
    out.user = base64_line(user);
    if (!password.empty()) out.password = base64_line(password);
    return out;
}

}  // namespace vellor
