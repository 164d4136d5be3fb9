// The connection object over the companion, the Winsock calls and the TLS
// session of the build.
#include "transport/connection.h"

#include <algorithm>

#include "platform/winsock.h"
#include "transport/companion.h"

namespace vellor::transport {

Connection::Connection() : timeout_ms_(transport::timeout_ms()) {}

Connection::~Connection() = default;

void Connection::aim(const std::string &address, int32_t port, Route with) {
    bool classic = family_of(address) == 4 && set_target(session, address, port);
    if (!classic) set_target(session, "", port);
    with.anchor = host_address(session);
    if (!classic && with.addresses.empty()) with.addresses = {address};
    route = std::move(with);
}

bool Connection::connect(int flag) {
    tls_.reset();
    wire_.reset();
    timeout_ms_ = transport::timeout_ms();
    connected_.clear();
    source_refused_ = false;
    bool routed = route.anchor == host_address(session);
    if (routed && !route.addresses.empty()) return connect_to(route.addresses, route.stagger_ms) || connect_fallback();
    if (!source.empty()) return connect_to({host_address(session)}, 0) || (routed && connect_fallback());
    if (KorvexAPI_Make_Connection(block, session, flag) != -1) {
        connected_ = host_address(session);
        return true;
    }
    return routed && connect_fallback();
}

bool Connection::connect_to(const std::vector<std::string> &addresses, int stagger_ms) {
    KORVEX_ADDRESSES targets{};
    for (const std::string &a : addresses) {
        if (targets.nAddresses == KORVEX_MAX_ADDRESSES || a.size() >= KORVEX_ADDRESS_CHARS) continue;
        a.copy(targets.szAddress[targets.nAddresses++], a.size());
    }
    int32_t winner = -1;
    int32_t rc = KorvexAPI_Connect_Addresses(block, session, &targets, stagger_ms, source.c_str(), &winner);
    source_refused_ = rc == -2;
    if (rc != 0) return false;
    connected_ = targets.szAddress[winner];
    return true;
}

// The IPv6 addresses of the route's fallback names, one after another.
bool Connection::connect_fallback() {
    for (const std::string &name : route.fallback_v6) {
        std::vector<std::string> v6;
        if (source_refused_) return false;
        if (host_addresses(name, KORVEX_FAMILY_IPV6, v6) && connect_to(v6, 0)) return true;
    }
    return false;
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

OpenLine Connection::release() {
    OpenLine line;
    if (socket() == 0) return line;
    wire();
    line.socket = socket();
    line.wire = std::move(wire_);
    line.tls = std::move(tls_);
    line.peer = peer_;
    line.connected = connected_;
    session->nSocket = 0;
    return line;
}

void Connection::adopt(OpenLine line) {
    session->nSocket = line.socket;
    wire_ = std::move(line.wire);
    tls_ = std::move(line.tls);
    peer_ = line.peer;
    connected_ = line.connected;
    timeout_ms_ = transport::timeout_ms();
}

bool Connection::idle_open() const {
    return socket() != 0 && wire_ && !wire_->spent() && winsock::input_waiting(socket()) == 0;
}

bool Connection::start_tls(const TlsPeer &peer, std::string &why) {
    std::unique_ptr<TlsSession> tls = make_tls_session(wire(), peer, why);
    bool same = peer.name == peer_.name && peer.verify == peer_.verify && peer.ca_file == peer_.ca_file &&
                peer.dane == peer_.dane;
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
