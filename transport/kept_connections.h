// The connections the library keeps open between calls (the KeepConnection
// option): the process's one pool of them, owned here. Each is kept under a
// key its keeper makes (a digest of whatever a later call must match; the
// pool reads nothing into it and holds no request's options), with a note
// of the keeper's own (the server's greeting reply, say) and the bytes that
// end it politely. A kept connection is handed to one taker at a time and
// leaves the pool while in use. It is closed when its idle limit passes
// (by the pool's one reaper thread), when the library closes down, and when
// the pool is full; connections are kept only while the library is
// initialised. Relies on transport/connection.h for the connection itself.
#pragma once
#include <chrono>
#include <optional>
#include <string>

#include "transport/connection.h"

namespace vellor::transport::kept {

struct Kept {
    OpenLine line;
    std::string note;      // the keeper's own text, handed back with it
    std::string farewell;  // sent before the connection is closed (empty: none)
};

// The library's start-up and close-down: connections may be kept from
// open() on; close_all() closes every kept one (its farewell sent), stops
// the reaper and keeps none until open() again.
void open();
void close_all();
// Whether a connection handed over now would be kept.
bool accepting();

// Keeps the connection for `idle` under `key`; when the pool is closed or
// full it is closed at once (its farewell sent) and false returned.
bool keep(const std::string &key, Kept kept, std::chrono::seconds idle);
// The connection kept last under `key`, taken out of the pool; none when
// no connection is kept under it.
std::optional<Kept> take(const std::string &key);
// Ends a kept connection: its farewell, then the close (each bounded).
void end(Kept kept);

// A digest of `text` under this process's own random salt (128 bits, in
// hexadecimal): what a key is made of never appears in the pool.
std::string digest(const std::string &text);

}  // namespace vellor::transport::kept
