// The TLS part of a connection where the build has no TLS library. No
// session can be made, with the reason given, so a request that asks for
// TLS fails before anything is sent in clear.
#include "transport/tls_session.h"

namespace vellor::transport {

std::unique_ptr<TlsSession> make_tls_session(Wire &, const TlsPeer &, std::string &why) {
    why = "TLS is not available in this build";
    return nullptr;
}

}  // namespace vellor::transport
