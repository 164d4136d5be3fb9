// The TLS part of a connection, behind one small interface. One file per
// build implements it, chosen by CMake: tls_openssl.cpp (OpenSSL: TLS 1.2
// or newer, SNI, the default ciphers, the system's trust store plus an
// optional PEM file, the server's name or address checked), or
// tls_schannel.cpp on Windows (the system's SChannel, the same checks made
// by the library itself).
//
// The rules every implementation keeps:
//  - It reaches the network only through the Wire it is given, passing on
//    the deadline of the call it serves: no wait of its own, no socket call,
//    no time-out of its own. A step that cannot finish by its deadline fails
//    with kTimedOut; a library's "want read / want write" after the wire
//    failed is that same failure, never a reason to try again.
//  - send seals and sends all it is given (callers hand at most
//    kTlsPiece bytes at a time), or fails.
//  - After any failure the session is of no further use; close_notify
//    then sends nothing.
//  - It holds no process-wide state keyed by socket: the connection object
//    owns the session (transport/connection.h).
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "transport/wire.h"

namespace vellor::transport {

// The largest piece a connection hands to TlsSession::send (one TLS record).
constexpr std::size_t kTlsPiece = 16384;

// A TLSA record (RFC 6698): certificate usage (2 DANE-TA, 3 DANE-EE),
// selector (0 the whole certificate, 1 its public key), matching type (0
// the data itself, 1 SHA-256, 2 SHA-512) and the data.
struct Tlsa {
    uint8_t usage = 0, selector = 0, matching = 0;
    std::string data;
    bool operator==(const Tlsa &) const = default;
};

struct TlsPeer {
    std::string name;     // checked against the certificate (and sent as SNI); an IPv4 text is checked as an address
    bool verify = true;   // false: no chain or name check
    std::string ca_file;  // extra trust anchors (PEM), may be empty
    bool enforce = true;  // false: the check is made and told, but a failed one does not stop the handshake
    // DANE (RFC 7672): with records, the certificate must match one of them
    // instead of the trust store; for DANE-EE neither the name nor the
    // dates are checked, for DANE-TA the chain must lead to the record's
    // anchor and the certificate must name `name`.
    std::vector<Tlsa> dane;
};

class TlsSession {
public:
    virtual ~TlsSession() = default;
    // The whole handshake, finished by `deadline`. false with the reason in
    // `why`: for a certificate, "certificate not accepted: ..." or the
    // verification error, with the name checked; for a deadline, a text
    // saying so; error() tells kTimedOut from other failures. With the
    // peer's `enforce` off, a certificate that fails the check does not fail
    // the handshake: `why` then says why it failed (empty when it verified).
    virtual bool handshake(Deadline deadline, std::string &why) = 0;
    // Seals and sends all `len` bytes (at most kTlsPiece), every wait by
    // `deadline`: len, or -1 with error().
    virtual int send(const char *data, std::size_t len, Deadline deadline) = 0;
    // One receive of application bytes, every wait by `deadline`: the count
    // (at least 1), 0 when the peer ended the session (close_notify, or the
    // connection closed), or -1 with error().
    virtual int receive(char *buf, std::size_t len, Deadline deadline) = 0;
    // Sends close_notify by `deadline` without waiting for the peer's
    // (nothing after a failure or when the handshake never finished).
    virtual void close_notify(Deadline deadline) = 0;
    // The Winsock-style code of the last failure: kTimedOut when a deadline
    // passed, the wire's own code when the socket failed, kConnAborted for a
    // TLS protocol failure.
    virtual int error() const = 0;

    // Resumption, optional (an implementation without it keeps the
    // defaults): what a later session with the same peer may resume, asked
    // for just before the connection closes (null: nothing to resume); given
    // to a new session before its handshake; whether the handshake resumed.
    virtual std::shared_ptr<void> resumption() { return nullptr; }
    virtual void resume(const std::shared_ptr<void> &) {}
    virtual bool resumed() const { return false; }
};

// A session over `wire` (which outlives it) for `peer`, its handshake not
// yet made; null with the reason in `why` when TLS cannot be set up (no
// TLS library in this build, trust anchors unreadable, ...).
std::unique_ptr<TlsSession> make_tls_session(Wire &wire, const TlsPeer &peer, std::string &why);

}  // namespace vellor::transport
