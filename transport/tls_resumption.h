// The TLS sessions a later connection may resume: the process's one store
// of them, owned here. A connection that closes leaves its resumable
// session (its tickets) under a key made of everything its verification
// depended on (transport/connection.cpp makes it: the name checked, the
// check, the trust anchors, the DANE records, the port); a later handshake
// under the same key takes it out and offers it, so a session is offered
// once and only with the same verification settings. The store holds no
// request's options and no credentials, keeps at most a bounded number of
// sessions (the oldest give way), and forgets them all when the library
// closes down. Relies on nothing but the standard library: a session is
// the TLS implementation's own value (transport/tls_session.h).
#pragma once
#include <memory>
#include <string>

namespace vellor::transport::resumption {

// The library's close-down: every session kept is forgotten.
void forget_all();

// Keeps `session` (when not null) under `key`; a session kept earlier
// under the key gives way.
void keep(const std::string &key, std::shared_ptr<void> session);
// The session kept under `key`, taken out of the store (null: none).
std::shared_ptr<void> take(const std::string &key);

}  // namespace vellor::transport::resumption
