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
// texts kept for AUTH PLAIN.
struct LoginState {
    bool encoded = false;
    std::string plain_user, plain_password;
    std::string encoded_user, encoded_password;
};

// An empty user name clears both fields and gives nothing to send.
EncodedLogin SMTP_Encode_Auth_Data(char *user /* [128] */, char *password /* [128] */);
std::string base64_line(const unsigned char *data, std::size_t n);

}  // namespace vellor
