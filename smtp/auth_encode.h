// Base64 of the login data, made in memory: the whole value is encoded,
// however long, and nothing of it is ever written to a file. The encoded
// texts are written back over the record's fields (cut to fit their 128
// bytes) and handed out whole for the login exchange.
#pragma once
#include <string>

namespace vellor {

struct EncodedLogin {
    std::string user, password;
};

// The login data of one send call: encoded once per call, the caller's own
// texts kept for AUTH PLAIN and the token logins.
struct LoginState {
    bool encoded = false;
    std::string plain_user, plain_password;
    std::string encoded_user, encoded_password;
};

// An empty user name clears both fields and gives nothing to send.
EncodedLogin SMTP_Encode_Auth_Data(char *user /* [128] */, char *password /* [128] */);
std::string base64_line(const unsigned char *data, std::size_t n);
std::string base64_line(const std::string &text);
// Base64 back to bytes; what is not Base64 ends the text.
std::string base64_text(const std::string &line);

// The initial responses of the standard logins, Base64 whole (each a
// single line, however long the token):
//  PLAIN (RFC 4616)         "\0user\0password";
//  XOAUTH2                  "user=USER^Aauth=Bearer TOKEN^A^A";
//  OAUTHBEARER (RFC 7628)   "n,a=USER,^Aauth=Bearer TOKEN^A^A" (',' and
//                           '=' in the user name written =2C and =3D).
std::string sasl_plain(const std::string &user, const std::string &password);
std::string sasl_xoauth2(const std::string &user, const std::string &token);
std::string sasl_oauthbearer(const std::string &user, const std::string &token);

}  // namespace vellor
