// The DNS TXT record that publishes a DKIM key's public half, for
// `vellor dkim-record KEYFILE` (one implementation per platform: posix with
// OpenSSL; win32 says where to make it).
#pragma once
#include <string>

namespace cli {

// "v=DKIM1; k=rsa; p=..." or "v=DKIM1; k=ed25519; p=..."; empty with the
// reason in `why`.
std::string dkim_record(const std::string &key_file, std::string &why);

}  // namespace cli
