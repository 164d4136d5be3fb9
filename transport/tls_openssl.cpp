// The TLS part of a connection with OpenSSL. The session's bytes go through
// a BIO of its own whose reads and writes are the connection's Wire with
// the deadline of the call in progress, so OpenSSL never touches the socket
// and never waits by itself; a wire failure ends the call it happened in.
// DANE goes through OpenSSL's own support (SSL_dane_enable): the records
// replace the trust store, and a DANE-EE match skips the name and dates.
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>

#include "common/text_fill.h"
#include "platform/small_file.h"
#include "platform/winsock.h"
#include "transport/tls_session.h"
#include "transport/transport_texts.h"

namespace vellor::transport {
namespace {

std::string openssl_error() {
    unsigned long e = ERR_get_error();
    ERR_clear_error();
    if (!e) return texts::kNoFurtherDetail;
    char text[256];
    ERR_error_string_n(e, text, sizeof text);
    return text;
}

bool is_address(const std::string &name) { return winsock::address_family(name) != 0; }

// The certificates of a PEM file (a regular file of at most 4 MiB, read
// without waiting) added to the context's trust store; false without one.
bool add_trust_anchors(SSL_CTX *ctx, const std::string &ca_file, std::string &why) {
    std::string pem;
    if (!files::read_small_file(ca_file, 4u << 20, pem, why)) return false;
    BIO *bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    X509_STORE *store = SSL_CTX_get_cert_store(ctx);
    int added = 0;
    while (X509 *cert = bio ? PEM_read_bio_X509(bio, nullptr, nullptr, nullptr) : nullptr) {
        added += X509_STORE_add_cert(store, cert) == 1;
        X509_free(cert);
    }
    BIO_free(bio);
    ERR_clear_error();
    if (added == 0) why = texts::kNoPemCertificate;
    return added > 0;
}

// The system's trust store is read as a chain needs it: its hashed folder
// is looked up by name, and its bundle file (hundreds of certificates, most
// of a short send's work to parse) is loaded only when an issuer is found
// nowhere else; the chain is then built as if it had been loaded first.
int store_loaded_index() {
    static const int index = X509_STORE_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

int issuer_from_system_store(X509 **issuer, X509_STORE_CTX *ctx, X509 *cert) {
    int found = X509_STORE_CTX_get1_issuer(issuer, ctx, cert);
    X509_STORE *store = X509_STORE_CTX_get0_store(ctx);
    if (found != 0 || X509_STORE_get_ex_data(store, store_loaded_index())) return found;
    X509_STORE_set_ex_data(store, store_loaded_index(), store);
    X509_LOOKUP *file = X509_STORE_add_lookup(store, X509_LOOKUP_file());
    bool loaded = file && X509_LOOKUP_load_file(file, nullptr, X509_FILETYPE_DEFAULT) == 1;
    ERR_clear_error();
    return loaded ? X509_STORE_CTX_get1_issuer(issuer, ctx, cert) : found;
}

SSL_CTX *make_context(const TlsPeer &peer, std::string &why) {
    SSL_CTX *ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx) {
        why = fill(texts::kTlsNotSetUp, {openssl_error()});
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_mode(ctx, SSL_MODE_AUTO_RETRY);
    if (!peer.verify) return ctx;
    SSL_CTX_set_verify(ctx, peer.enforce ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);
    if (!peer.dane.empty()) {
        if (SSL_CTX_dane_enable(ctx) <= 0) {
            why = fill(texts::kDaneNotSetUp, {openssl_error()});
            SSL_CTX_free(ctx);
            return nullptr;
        }
        return ctx;  // the records are the only trust
    }
    SSL_CTX_set_default_verify_dir(ctx);
    X509_STORE_set_get_issuer(SSL_CTX_get_cert_store(ctx), issuer_from_system_store);
    std::string reason;
    if (!peer.ca_file.empty() && !add_trust_anchors(ctx, peer.ca_file, reason)) {
        why = fill(texts::kTrustAnchorsUnread, {peer.ca_file, reason});
        SSL_CTX_free(ctx);
        return nullptr;
    }
    return ctx;
}

// The name to check and to send as SNI (an address is checked, not sent);
// under DANE the name and the records the certificate must match.
bool set_peer_name(SSL *ssl, const TlsPeer &peer) {
    if (!peer.dane.empty()) {
        if (SSL_dane_enable(ssl, peer.name.c_str()) <= 0) return false;
        SSL_dane_set_flags(ssl, DANE_FLAG_NO_DANE_EE_NAMECHECKS);
        int usable = 0;
        for (const Tlsa &t : peer.dane)
            usable += SSL_dane_tlsa_add(ssl, t.usage, t.selector, t.matching,
                                        reinterpret_cast<const unsigned char *>(t.data.data()), t.data.size()) > 0;
        return usable > 0;
    }
    if (peer.name.empty()) return true;
    if (is_address(peer.name)) {
        return !peer.verify || X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), peer.name.c_str()) == 1;
    }
    SSL_set_tlsext_host_name(ssl, peer.name.c_str());
    return !peer.verify || SSL_set1_host(ssl, peer.name.c_str()) == 1;
}

// What the BIO reaches: the wire and the deadline of the call in progress;
// how the last wire call ended.
struct WireUse {
    Wire *wire = nullptr;
    Deadline deadline{};
    bool failed = false;  // a wire call failed (its code in wire->error())
    bool closed = false;  // the peer closed the connection
};

int wire_write(BIO *bio, const char *data, size_t len, size_t *written) {
    auto *use = static_cast<WireUse *>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    int n = use->failed ? -1 : use->wire->send(data, len, use->deadline);
    ERR_clear_error();  // what other tasks of a loop left in the thread's queue while this one waited
    if (n <= 0) {
        use->failed = true;
        return 0;
    }
    *written = static_cast<size_t>(n);
    return 1;
}

int wire_read(BIO *bio, char *buf, size_t len, size_t *got) {
    auto *use = static_cast<WireUse *>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    if (use->failed || use->closed) return 0;
    int n = use->wire->receive(buf, len, use->deadline);
    ERR_clear_error();  // as in wire_write
    if (n == 0) use->closed = true;
    if (n < 0) use->failed = true;
    if (n <= 0) return 0;
    *got = static_cast<size_t>(n);
    return 1;
}

long wire_ctrl(BIO *, int cmd, long, void *) { return cmd == BIO_CTRL_FLUSH ? 1 : 0; }

int wire_create(BIO *bio) {
    BIO_set_init(bio, 1);
    return 1;
}

const BIO_METHOD *wire_method() {
    static BIO_METHOD *method = [] {
        BIO_METHOD *m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "vellor wire");
        if (!m) return m;
        BIO_meth_set_write_ex(m, wire_write);
        BIO_meth_set_read_ex(m, wire_read);
        BIO_meth_set_ctrl(m, wire_ctrl);
        BIO_meth_set_create(m, wire_create);
        return m;
    }();
    return method;
}

class OpensslSession final : public TlsSession {
public:
    OpensslSession(Wire &wire, const TlsPeer &peer) : peer_(peer) { use_.wire = &wire; }
    ~OpensslSession() override { SSL_free(ssl_); }

    bool set_up(std::string &why);
    bool handshake(Deadline deadline, std::string &why) override;
    int send(const char *data, std::size_t len, Deadline deadline) override;
    int receive(char *buf, std::size_t len, Deadline deadline) override;
    void close_notify(Deadline deadline) override;
    int error() const override { return error_; }
    std::shared_ptr<void> resumption() override;
    // Not under DANE: a resumed session carries no record's match (OpenSSL
    // checks nothing on resumption), so DANE always takes a full handshake.
    void resume(const std::shared_ptr<void> &state) override {
        if (state && peer_.dane.empty()) SSL_set_session(ssl_, static_cast<SSL_SESSION *>(state.get()));
    }
    bool resumed() const override { return ready_ && SSL_session_reused(ssl_) == 1; }

private:
    // Arms the BIO for one call; false when the session is of no further use.
    bool begin(Deadline deadline) {
        use_.deadline = deadline;
        return !dead_;
    }
    // Records how a failed call ended: the wire's code, or a TLS failure.
    int failed() {
        dead_ = true;
        error_ = use_.failed ? use_.wire->error() : kConnAborted;
        ERR_clear_error();
        return -1;
    }

    TlsPeer peer_;
    WireUse use_;
    SSL *ssl_ = nullptr;
    bool ready_ = false;  // the handshake finished
    bool dead_ = false;
    int error_ = 0;
};

bool OpensslSession::set_up(std::string &why) {
    SSL_CTX *ctx = make_context(peer_, why);
    if (!ctx) return false;
    ssl_ = SSL_new(ctx);
    SSL_CTX_free(ctx);  // the session holds its own reference
    BIO *bio = ssl_ && wire_method() ? BIO_new(wire_method()) : nullptr;
    if (!bio || !set_peer_name(ssl_, peer_)) {
        BIO_free(bio);
        why = fill(texts::kTlsNotSetUp, {openssl_error()});
        return false;
    }
    BIO_set_data(bio, &use_);
    SSL_set_bio(ssl_, bio, bio);
    SSL_set_read_ahead(ssl_, 1);  // whole runs of records per read
    return true;
}

bool OpensslSession::handshake(Deadline deadline, std::string &why) {
    if (!begin(deadline)) return false;
    long result = X509_V_OK;
    if (SSL_connect(ssl_) == 1) {
        ready_ = true;
        result = SSL_get_verify_result(ssl_);
        if (!peer_.dane.empty() && SSL_get0_dane_authority(ssl_, nullptr, nullptr) < 0) {
            why = fill(texts::kNotAcceptedName, {texts::kNoTlsaMatched, peer_.name});
            failed();  // DANE never passes without a record's match
            return false;
        }
        if (peer_.verify && result != X509_V_OK)  // only told: an enforced check fails the handshake
            why = fill(texts::kNotAcceptedChecked, {X509_verify_cert_error_string(result), peer_.name});
        return true;
    }
    result = SSL_get_verify_result(ssl_);
    if (use_.failed && use_.wire->error() == kTimedOut)
        why = texts::kHandshakeTimedOut;
    else if (use_.closed)
        why = texts::kClosedInHandshake;
    else if (peer_.verify && result != X509_V_OK)
        why = fill(texts::kNotAcceptedChecked, {X509_verify_cert_error_string(result), peer_.name});
    else
        why = fill(texts::kHandshakeFailed, {openssl_error()});
    failed();
    return false;
}

int OpensslSession::send(const char *data, std::size_t len, Deadline deadline) {
    if (!begin(deadline) || !ready_) return failed();
    std::size_t written = 0;
    if (len > 0 && SSL_write_ex(ssl_, data, std::min(len, kTlsPiece), &written) != 1) return failed();
    return static_cast<int>(written);
}

int OpensslSession::receive(char *buf, std::size_t len, Deadline deadline) {
    if (!begin(deadline) || !ready_) return failed();
    std::size_t got = 0;
    int rc = SSL_read_ex(ssl_, buf, len, &got);
    if (rc == 1) return static_cast<int>(got);
    if (SSL_get_error(ssl_, rc) == SSL_ERROR_ZERO_RETURN || use_.closed) {
        ERR_clear_error();
        return 0;
    }
    return failed();
}

// The session with its tickets (TLS 1.3 sends them after the handshake).
std::shared_ptr<void> OpensslSession::resumption() {
    SSL_SESSION *session = ready_ ? SSL_get1_session(ssl_) : nullptr;
    if (session && SSL_SESSION_is_resumable(session) == 1)
        return std::shared_ptr<void>(session, [](void *s) { SSL_SESSION_free(static_cast<SSL_SESSION *>(s)); });
    SSL_SESSION_free(session);
    return nullptr;
}

void OpensslSession::close_notify(Deadline deadline) {
    if (!begin(deadline) || !ready_) return;
    SSL_shutdown(ssl_);
    ERR_clear_error();
}

}  // namespace

std::unique_ptr<TlsSession> make_tls_session(Wire &wire, const TlsPeer &peer, std::string &why) {
    auto session = std::make_unique<OpensslSession>(wire, peer);
    if (!session->set_up(why)) return nullptr;
    return session;
}

}  // namespace vellor::transport
