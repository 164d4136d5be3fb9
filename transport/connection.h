// One connection to a server, the library's only way to talk over the
// network. It owns its socket (opened and closed through the companion: the
// companion's block and session record are this object's own values, which
// nothing outside transport/ touches), its TLS session once
// one is started (transport/tls_session.h) and its time-out, read when it
// connects. Every wait, in the clear or inside TLS, the handshake included,
// goes through it and is bounded: a receive by the deadline its caller
// gives (one time-out per step: step_deadline()), a send of each piece and
// the whole handshake by one time-out each. A wait that times out spends
// the connection (its Wire): every later send or receive on it fails at
// once, in the clear or in TLS, close_notify included. A TLS
// session is kept when its connection closes, and a later handshake with
// the same peer, port and verification settings offers to resume it, on
// this connection or any other one (transport/tls_resumption.h). A
// connection run on a task loop (platform/task_loop.h) waits through it:
// its byte path gives the loop's other tasks the thread, and its connect
// and its host lookup run aside on a thread of their own.
#pragma once
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "korvexapi.h"
#include "transport/tls_session.h"
#include "transport/wire.h"

namespace vellor::platform {
class TaskLoop;
}

namespace vellor::transport {

// Where a connect goes beyond the record's host address alone: set with
// the target (Connection::aim) and used only while the record still holds
// the address it was set for (`anchor`), so a target written into the
// record afterwards is dialled as it always was.
struct Route {
    std::string anchor;                    // the record's szHostAddress when set ("" for an IPv6 target)
    std::vector<std::string> addresses;    // tried in order; empty: the record's host address
    int stagger_ms = 0;                    // above 0: raced this far apart (Happy Eyeballs); 0: one after another
    std::vector<std::string> fallback_v6;  // names whose IPv6 addresses follow, in turn, when the others failed
};

// An open connection moved out of its connection object whole (the
// companion's session record with its socket, the byte path and TLS
// session), for another one to adopt: a connection kept between calls
// (transport/kept_connections.h).
struct OpenLine {
    TCPSESSION_STRUCTURE record{};
    std::unique_ptr<Wire> wire;
    std::unique_ptr<TlsSession> tls;
    TlsPeer peer;
    std::string connected;
};

class Connection {
public:
    Route route;
    std::string source;  // the local address connections are bound to ("" none)

    // The record's target: `address` in szHostAddress when it is an IPv4
    // address that fits (else the field is left empty), and `port`; the
    // route to take with it.
    void aim(const std::string &address, int32_t port, Route with = {});
    // The address the last connect reached (whole, IPv6 too).
    const std::string &connected_address() const { return connected_; }
    // The last connect failed before any connect because `source` is not
    // an address of this host.
    bool source_refused() const { return source_refused_; }

    // The companion of this connection, its block and session record its own:
    // started for the application `app` (false when its network cannot
    // start; the block is then closed again), and stopped.
    bool start_companion(const std::string &app);
    void stop_companion(const std::string &app);
    // A second connection over the companion `other` started (its block; a
    // session record of this connection's own, initialised now), which
    // must outlive this one: a fetch made during a send. It waits through
    // the other's loop, if any.
    void share_companion(Connection &other);

    // The target as the companion dials it: the whole target (the address
    // left empty, and false, when it does not fit), its address alone, its
    // port alone.
    bool set_target(const std::string &address, int32_t port);
    void set_host_address(const std::string &address);
    void set_port(int32_t port);
    std::string host_address() const;
    int32_t port() const;

    // The companion's lookups through this connection's record: `host`'s
    // first IPv4 address; whether connections can be bound to `source` (0,
    // else the Winsock code, see transport::source_check).
    bool resolve_host(const std::string &host, std::string &address);
    int source_check(const std::string &source);
    // The addresses the last lookup or connect went through.
    std::string first_address() const;
    int address_count() const;

    // The Winsock code of the last failure as the companion's record keeps
    // it: the companion's own connect failure, or one the session noted.
    int16_t noted_error() const;
    void note_error(int code);
    // The companion's bytes per send when sending in pieces with progress.
    int send_block_size() const;

    Connection();
    ~Connection();
    // Waits through `loop` from now on (none: on the calling thread).
    void run_on(platform::TaskLoop *loop);
    // Runs `call` (a lookup: it must not use this connection) on a thread
    // of its own while the loop's other tasks go on, when this connection
    // is a loop's task; else here.
    void aside(const std::function<void()> &call);
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // Connects to the record's target (the companion's flag: 0 the host
    // address, 1 each of the record's addresses in turn); the time-out is
    // read afresh.
    bool connect(int flag);
    // close_notify when TLS is on (bounded), then the companion closes the
    // socket; true when the close succeeded.
    bool close_socket();
    // The TLS handshake on the open connection, within one time-out; false
    // with the reason in `why`. Afterwards every send and receive goes
    // through TLS until the socket is closed.
    bool start_tls(const TlsPeer &peer, std::string &why);
    bool secure() const { return tls_ != nullptr; }
    // The last handshake resumed an earlier session.
    bool resumed() const { return tls_ && tls_->resumed(); }

    int timeout_ms() const { return timeout_ms_; }
    // One step's deadline: one time-out from now.
    Deadline step_deadline() const;

    // Sends a piece of `data` within one time-out: the count moved (at
    // least 1), or -1 with last_error(). `more`: more follows at once.
    int send(const char *data, std::size_t len, bool more);
    // One receive by `deadline`: the count, 0 when the peer closed, -1 with
    // last_error(). `first` marks the first receive of a reply's wait: in
    // the clear it is one system call when the reply comes whole.
    int receive(char *buf, std::size_t len, Deadline deadline, bool first = false);
    int last_error() const { return error_; }
    // The open connection moved out (this one is left without a socket),
    // and one adopted in its place, its session record whole (this one
    // must have none).
    OpenLine release();
    void adopt(OpenLine line);
    // Open, not spent, and nothing from the peer waiting: no close, no
    // reply nobody asked for (a server ending an idle session says 421).
    bool idle_open() const;
    unsigned socket() const { return session_.nSocket; }

private:
    int plain_receive(char *buf, std::size_t len, Deadline deadline, bool first);
    Wire &wire();
    bool connect_to(const std::vector<std::string> &addresses, int stagger_ms);
    bool connect_fallback();
    bool connect_here(int flag);

    TCPLIBRARY_STRUCTURE own_block_{};           // the companion's block this connection starts
    TCPLIBRARY_STRUCTURE *block_ = &own_block_;  // the block it goes through (another's when shared)
    TCPSESSION_STRUCTURE session_{};             // the companion's connection record
    std::string connected_;
    bool source_refused_ = false;

    std::unique_ptr<Wire> wire_;
    std::unique_ptr<TlsSession> tls_;
    std::string resumption_key(const TlsPeer &peer) const;

    TlsPeer peer_;            // whom tls_ (or the kept session) is with
    std::string resume_key_;  // peer_'s resumption key (transport/tls_resumption.h)
    int timeout_ms_;
    int error_ = 0;
    platform::TaskLoop *loop_ = nullptr;
};

}  // namespace vellor::transport
