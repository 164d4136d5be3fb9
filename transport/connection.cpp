// The connection object over the companion, the Winsock calls and the TLS
// session of the build.
#include "transport/connection.h"

#include <algorithm>

#include "transport/companion.h"

namespace vellor::transport {

Connection::Connection() : timeout_ms_(transport::timeout_ms()) {}

Connection::~Connection() = default;

bool Connection::connect(int flag) {
    tls_.reset();
    wire_.reset();
    timeout_ms_ = transport::timeout_ms();
    return KorvexAPI_Make_Connection(block, session, flag) != -1;
}

// The byte path of the socket now in the record: a new one for a new socket.
Wire &Connection::wire() {
    if (!wire_ || wire_->socket() != socket()) wire_ = std::make_unique<Wire>(socket());
    return *wire_;
}

bool Connection::close_socket() {
    if (tls_ && socket() != 0) tls_->close_notify(step_deadline());
    if (tls_)
        if (std::shared_ptr<void> kept = tls_->resumption()) resume_ = std::move(kept);
    tls_.reset();
    wire_.reset();
    return KorvexAPI_Close_Socket(block, session, 1) == 0;
}

bool Connection::start_tls(const TlsPeer &peer, std::string &why) {
    std::unique_ptr<TlsSession> tls = make_tls_session(wire(), peer, why);
    bool same = peer.name == peer_.name && peer.verify == peer_.verify && peer.ca_file == peer_.ca_file;
    if (tls && resume_ && same) tls->resume(resume_);
    if (!same) resume_.reset();
    peer_ = peer;
    if (!tls || !tls->handshake(step_deadline(), why)) {
        error_ = tls ? tls->error() : kInvalid;
        return false;
    }
    tls_ = std::move(tls);
    return true;
}

Deadline Connection::step_deadline() const { return Clock::now() + std::chrono::milliseconds(timeout_ms_); }

int Connection::send(const char *data, std::size_t len, bool more) {
    int n;
    if (tls_) {
        n = tls_->send(data, std::min(len, kTlsPiece), step_deadline());
        if (n < 0) error_ = tls_->error();
        return n;
    }
    n = wire().send_piece(data, len, more);
    if (n < 0) error_ = wire().error();
    return n;
}

int Connection::receive(char *buf, std::size_t len, Deadline deadline, bool first) {
    if (!tls_) return plain_receive(buf, len, deadline, first);
    int n = tls_->receive(buf, len, deadline);
    if (n < 0) error_ = tls_->error();
    return n;
}

// The first receive of a wait is bounded by the socket's own time-out; one
// a signal interrupted goes on by the deadline.
int Connection::plain_receive(char *buf, std::size_t len, Deadline deadline, bool first) {
    int n = first ? wire().receive_first(buf, len, deadline) : wire().receive(buf, len, deadline);
    if (n < 0) error_ = wire().error();
    return n;
}

}  // namespace vellor::transport
