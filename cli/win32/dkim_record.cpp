// The Windows tool reads no key itself (the library signs through the
// system's CNG, which it does not share): the record is made where OpenSSL
// is, as docs/windows.md says.
#include "dkim_record.h"

namespace cli {

std::string dkim_record(const std::string &, std::string &why) {
    why =
        "dkim-record is not available on Windows: make the record with OpenSSL (v=DKIM1; k=rsa; p= and the output "
        "of: openssl pkey -in KEY -pubout -outform DER | base64 -w0)";
    return {};
}

}  // namespace cli
