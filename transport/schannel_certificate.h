// The server's certificate judged by the library itself after an SChannel
// handshake (SChannel is told to leave it alone): the chain the system
// builds from the Windows store, the certificates the server sent and the
// extra CAs of a PEM file; the chain's own error status; the SSL chain
// policy with the server's name; an address checked against the
// certificate's IP entries. Relies on the stream's security context.
#pragma once
#include "transport/schannel_stream.h"  // the Windows headers first

#include <wincrypt.h>

#include "transport/tls_session.h"

namespace vellor::transport::schannel {

// The certificates of a PEM file in a store of their own (closed by the
// caller); nullptr with the reason in `why` when the file cannot be read
// or holds none.
HCERTSTORE load_ca_file(const std::string &path, std::string &why);

// true when the certificate is accepted for peer.name (always, when
// peer.verify is off), `cas` (may be nullptr) trusted besides the system's
// roots; else the reason in `why`, worded as in the OpenSSL build:
// "certificate not accepted: ... (name checked [...])".
bool certificate_accepted(const CtxtHandle *context, const TlsPeer &peer, HCERTSTORE cas, std::string &why);

// true when one of the certificate's DNS names (its CN when it has none)
// covers the host name by the library's own wildcard rule.
bool certificate_names_host(PCCERT_CONTEXT cert, const std::string &name);

// true when `name` is an IPv4 or IPv6 address (checked as an address,
// never sent as SNI).
bool is_address(const std::string &name);

}  // namespace vellor::transport::schannel
