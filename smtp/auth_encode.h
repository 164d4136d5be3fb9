// Base64 of the login data, made in memory: the whole value is encoded,
// however long, and nothing of it is ever written to a file. The encoded
// texts are handed out whole for the login exchange; the delivery shows
// them in the request (submit/message_in_hand.h: show_login_forms, never
// a cut value).
#pragma once
#include <cstddef>
#include <string>

namespace vellor {

struct EncodedLogin {
    std::string user, password;
};

// The login data of one send call: the user and password as the request
// gave them when the send began (the delivery takes them once), encoded
// once per call when the first login is due, the caller's own texts then
// kept for AUTH PLAIN and the token logins.
struct LoginState {
    std::string user, password;  // as given
    bool encoded = false;
    std::string plain_user, plain_password;
    std::string encoded_user, encoded_password;
};

// Both values in Base64, a password only with a user name: an empty user
// name gives nothing to send (and the request then shows no password).
EncodedLogin SMTP_Encode_Auth_Data(const std::string &user, const std::string &password);
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
