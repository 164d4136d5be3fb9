// Base64 of the login data through three work files in the current
// directory ("userid.txt", "userpw.txt", "userid.mim", mode 0600, all
// removed again). The encoder writes lines of 60 characters for 45 input
// bytes and only the first line is read back, so a value longer than 45
// characters keeps the encoding of its first 45.
#pragma once
#include <string>

namespace vellor {

void SMTP_Encode_Auth_Data(char *user /* [128] */, char *password /* [128] */);
int Base64_Encode_File(const std::string &source, const std::string &target);
// The same alphabet on a string (for tests and the encoder's lines).
std::string base64_line(const unsigned char *data, std::size_t n);

}  // namespace vellor
