// The connection object over the companion, the Winsock calls and the TLS
// session of the build.
#include "transport/connection.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "platform/task_loop.h"
#include "platform/winsock.h"
#include "transport/companion.h"
#include "transport/kept_connections.h"
#include "transport/tls_resumption.h"

namespace vellor::transport {

Connection::Connection() : timeout_ms_(transport::timeout_ms()) {}

Connection::~Connection() = default;

bool Connection::start_companion(const std::string &app) {
    library_start(block_, app.c_str());
    session_start(block_, &session_);
    if (network_start(block_)) return true;
    library_close(block_, app.c_str());
    return false;
}

void Connection::stop_companion(const std::string &app) {
    network_stop(block_);
    library_close(block_, app.c_str());
}

void Connection::share_companion(Connection &other) {
    block_ = other.block_;
    loop_ = other.loop_;  // a fetch waits as the send does
    session_start(block_, &session_);
}

bool Connection::set_target(const std::string &address, int32_t port) {
    return transport::set_target(&session_, address, port);
}

void Connection::set_host_address(const std::string &address) {
    (void)transport::set_target(&session_, address, port());
}

void Connection::set_port(int32_t port) { session_.nPort = static_cast<uint32_t>(port); }
std::string Connection::host_address() const { return transport::host_address(&session_); }
int32_t Connection::port() const { return static_cast<int32_t>(session_.nPort); }

bool Connection::resolve_host(const std::string &host, std::string &address) {
    bool found = false;
    aside([&] { found = transport::resolve_host(block_, &session_, host, address); });
    return found;
}

int Connection::source_check(const std::string &source) { return transport::source_check(block_, &session_, source); }
std::string Connection::first_address() const { return transport::first_address(&session_); }
int Connection::address_count() const { return transport::addresses(&session_); }
int16_t Connection::noted_error() const { return session_.nLastError; }
void Connection::note_error(int code) { session_.nLastError = static_cast<int16_t>(code); }
int Connection::send_block_size() const { return session_.nSendBlockSize; }

void Connection::aim(const std::string &address, int32_t port, Route with) {
    bool classic = family_of(address) == 4 && transport::set_target(&session_, address, port);
    if (!classic) transport::set_target(&session_, "", port);
    with.anchor = host_address();
    if (!classic && with.addresses.empty()) with.addresses = {address};
    route = std::move(with);
}

void Connection::run_on(platform::TaskLoop *loop) {
    loop_ = loop;
    if (wire_) wire_->run_on(loop, timeout_ms_);
}

void Connection::aside(const std::function<void()> &call) {
    if (loop_ && loop_->in_task())
        loop_->aside(call);
    else
        call();
}

bool Connection::connect(int flag) {
    tls_.reset();
    wire_.reset();
    timeout_ms_ = transport::timeout_ms();
    bool done = false;
    aside([&] { done = connect_here(flag); });
    return done;
}

// The connect itself, on the calling thread.
bool Connection::connect_here(int flag) {
    connected_.clear();
    source_refused_ = false;
    bool routed = route.anchor == host_address();
    if (routed && !route.addresses.empty()) return connect_to(route.addresses, route.stagger_ms) || connect_fallback();
    if (!source.empty()) return connect_to({host_address()}, 0) || (routed && connect_fallback());
    if (KorvexAPI_Make_Connection(block_, &session_, flag) != -1) {
        connected_ = host_address();
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
    int32_t rc = KorvexAPI_Connect_Addresses(block_, &session_, &targets, stagger_ms, source.c_str(), &winner);
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
    if (!wire_ || wire_->socket() != socket()) {
        wire_ = std::make_unique<Wire>(socket());
        wire_->run_on(loop_, timeout_ms_);
    }
    return *wire_;
}

bool Connection::close_socket() {
    if (tls_ && socket() != 0) tls_->close_notify(step_deadline());
    if (tls_) resumption::keep(resume_key_, tls_->resumption());
    tls_.reset();
    wire_.reset();
    return KorvexAPI_Close_Socket(block_, &session_, 1) == 0;
}

OpenLine Connection::release() {
    OpenLine line;
    if (socket() == 0) return line;
    wire();
    line.record = session_;
    line.wire = std::move(wire_);
    line.wire->run_on(nullptr, 0);  // it outlives the loop
    line.tls = std::move(tls_);
    line.peer = peer_;
    line.connected = connected_;
    session_.nSocket = 0;
    return line;
}

void Connection::adopt(OpenLine line) {
    session_ = line.record;
    wire_ = std::move(line.wire);
    tls_ = std::move(line.tls);
    peer_ = line.peer;
    resume_key_ = resumption_key(peer_);
    connected_ = line.connected;
    timeout_ms_ = transport::timeout_ms();
    if (wire_) wire_->run_on(loop_, timeout_ms_);
}

bool Connection::idle_open() const {
    return socket() != 0 && wire_ && !wire_->spent() && winsock::input_waiting(socket()) == 0;
}

// The trust anchors a TLSCAFile holds now: the same path rewritten with
// other certificates is another check.
static std::string file_text(const std::string &path) {
    if (path.empty()) return {};
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every setting a session's verification depended on, and the port:
// a session is offered again only where all of them are the same.
std::string Connection::resumption_key(const TlsPeer &peer) const {
    std::string text = peer.name;
    text.append(1, '\0').append(peer.verify ? "v" : "-").append(peer.enforce ? "e" : "-");
    text.append(1, '\0').append(peer.ca_file).append(1, '\0').append(file_text(peer.ca_file));
    text.append(1, '\0').append(std::to_string(port()));
    for (const Tlsa &t : peer.dane)
        text.append(1, '\0').append({char(t.usage), char(t.selector), char(t.matching)}).append(t.data);
    return kept::digest(text);
}

bool Connection::start_tls(const TlsPeer &peer, std::string &why) {
    std::unique_ptr<TlsSession> tls = make_tls_session(wire(), peer, why);
    std::string key = resumption_key(peer);
    std::shared_ptr<void> earlier = resumption::take(key);
    if (tls && earlier) tls->resume(earlier);
    peer_ = peer;
    resume_key_ = std::move(key);
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
