// DANE (RFC 7672) on Windows: SChannel knows nothing of TLSA records, so the
// library matches them itself against the certificates SChannel hands back
// after the handshake. Relies on the stream's security context, CryptoAPI
// for the chain and CNG for the digests.
#pragma once
#include "transport/schannel_stream.h"  // the Windows headers first

#include <string>

#include "transport/tls_session.h"

namespace vellor::transport::schannel {

// true when a DANE-EE record matches the server's certificate (its names
// and dates unchecked), or a DANE-TA record matches a certificate of the
// chain above it (a whole certificate in a record serves as an anchor the
// server need not send), the chain is otherwise valid and the server's
// certificate names peer.name; else the reason in `why`, worded as in the
// OpenSSL build.
bool dane_accepted(const CtxtHandle *context, const TlsPeer &peer, std::string &why);

}  // namespace vellor::transport::schannel
