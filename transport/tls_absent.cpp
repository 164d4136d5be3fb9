// Secure connections where the build has no TLS library (the Windows build:
// Debian offers no OpenSSL for it). Every handshake fails with the reason
// given, so a request that asks for TLS fails before anything is sent in
// clear; a connection never has a TLS session.
#include "platform/winsock.h"
#include "transport/tls.h"

namespace vellor::transport {

bool start_tls(unsigned, const TlsPeer &, std::string &why) {
    why = "TLS is not available in this build";
    return false;
}
bool has_tls(unsigned) { return false; }
void end_tls(unsigned) {}
int tls_send(unsigned, const char *, std::size_t) { return -1; }
int tls_recv_within(unsigned, char *, std::size_t, int) { return -1; }
int tls_error() { return winsock::WSAEINVAL; }

}  // namespace vellor::transport
