// TLS on a connection the companion opened, with OpenSSL: the handshake
// (TLS 1.2 or newer, SNI, OpenSSL's default ciphers, the system's trust
// store plus an optional PEM file, the server's name or address checked),
// then the connection's sends and receives go through TLS until it is
// closed. Sessions are kept by socket (descriptor and inode) under a lock,
// so sends on several threads at once each find their own.
#pragma once
#include <cstddef>
#include <string>

namespace vellor::transport {

struct TlsPeer {
    std::string name;     // checked against the certificate; an IPv4 text is checked as an address
    bool verify = true;   // false: no chain or name check
    std::string ca_file;  // extra trust anchors (PEM), may be empty
};

// The handshake, bounded by the socket's own time-outs. false with the
// reason in `why` (the verification error and the name checked, for a
// certificate).
bool start_tls(unsigned socket, const TlsPeer &peer, std::string &why);
bool has_tls(unsigned socket);
// Sends close_notify and forgets the session (before the socket closes).
void end_tls(unsigned socket);
// Whole-or-error send and one receive within `ms`; -1 on failure with the
// Winsock-style code in tls_error().
int tls_send(unsigned socket, const char *data, std::size_t len);
int tls_recv_within(unsigned socket, char *buf, std::size_t len, int ms);
int tls_error();

}  // namespace vellor::transport
