// OpenSSL sessions over the companion's sockets.
#include "transport/tls.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#include <utility>

#include "platform/winsock.h"

namespace vellor::transport {
namespace {

using Key = std::pair<int, ino_t>;

struct Sessions {
    std::mutex mu;
    std::map<Key, SSL *> by_socket;
    std::atomic<std::size_t> live{0};  // by_socket's size, read without the lock
};
Sessions &sessions() {
    static Sessions *s = new Sessions;
    return *s;
}

thread_local int t_error = 0;

Key key_of(unsigned socket) {
    struct stat st {};
    ::fstat(static_cast<int>(socket), &st);
    return {static_cast<int>(socket), st.st_ino};
}

SSL *find(unsigned socket) {
    Sessions &s = sessions();
    if (s.live.load(std::memory_order_acquire) == 0) return nullptr;  // plain connections never wait for the lock
    std::lock_guard<std::mutex> g(s.mu);
    auto it = s.by_socket.find(key_of(socket));
    return it == s.by_socket.end() ? nullptr : it->second;
}

std::string openssl_error() {
    unsigned long e = ERR_get_error();
    char text[256] = "no further detail";
    if (e) ERR_error_string_n(e, text, sizeof text);
    ERR_clear_error();
    return text;
}

bool is_address(const std::string &name) {
    in_addr a{};
    return ::inet_pton(AF_INET, name.c_str(), &a) == 1;
}

SSL_CTX *make_context(const TlsPeer &peer, std::string &why) {
    SSL_CTX *ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx) {
        why = "TLS could not be set up: " + openssl_error();
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_mode(ctx, SSL_MODE_AUTO_RETRY);
    if (!peer.verify) return ctx;
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_default_verify_paths(ctx);
    if (!peer.ca_file.empty() && SSL_CTX_load_verify_locations(ctx, peer.ca_file.c_str(), nullptr) != 1) {
        why = "TLS trust anchors in [" + peer.ca_file + "] could not be read: " + openssl_error();
        SSL_CTX_free(ctx);
        return nullptr;
    }
    return ctx;
}

// The name to check and to send as SNI (an address is checked, not sent).
bool set_peer_name(SSL *ssl, const TlsPeer &peer) {
    if (peer.name.empty()) return true;
    if (is_address(peer.name)) {
        return !peer.verify || X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), peer.name.c_str()) == 1;
    }
    SSL_set_tlsext_host_name(ssl, peer.name.c_str());
    return !peer.verify || SSL_set1_host(ssl, peer.name.c_str()) == 1;
}

std::string handshake_failure(SSL *ssl, const TlsPeer &peer) {
    long result = SSL_get_verify_result(ssl);
    if (peer.verify && result != X509_V_OK)
        return std::string("certificate not accepted: ") + X509_verify_cert_error_string(result) + " (name checked [" +
               peer.name + "])";
    return "handshake failed: " + openssl_error();
}

}  // namespace

bool start_tls(unsigned socket, const TlsPeer &peer, std::string &why) {
    SSL_CTX *ctx = make_context(peer, why);
    if (!ctx) return false;
    SSL *ssl = SSL_new(ctx);
    SSL_CTX_free(ctx);  // the session holds its own reference
    if (!ssl || !set_peer_name(ssl, peer) || SSL_set_fd(ssl, static_cast<int>(socket)) != 1) {
        why = "TLS could not be set up: " + openssl_error();
        SSL_free(ssl);
        return false;
    }
    if (SSL_connect(ssl) != 1) {
        why = handshake_failure(ssl, peer);
        SSL_free(ssl);
        return false;
    }
    try {
        Sessions &s = sessions();
        std::lock_guard<std::mutex> g(s.mu);
        s.by_socket[key_of(socket)] = ssl;
        s.live.store(s.by_socket.size(), std::memory_order_release);
    } catch (...) {
        SSL_free(ssl);
        throw;
    }
    return true;
}

bool has_tls(unsigned socket) { return find(socket) != nullptr; }

void end_tls(unsigned socket) {
    SSL *ssl = nullptr;
    {
        Sessions &s = sessions();
        std::lock_guard<std::mutex> g(s.mu);
        auto it = s.by_socket.find(key_of(socket));
        if (it == s.by_socket.end()) return;
        ssl = it->second;
        s.by_socket.erase(it);
        s.live.store(s.by_socket.size(), std::memory_order_release);
    }
    SSL_shutdown(ssl);
    SSL_free(ssl);
    ERR_clear_error();
}

// A call interrupted by a signal is made again.
bool interrupted(SSL *ssl, int rc) {
    int e = SSL_get_error(ssl, rc);
    bool again = e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE || (e == SSL_ERROR_SYSCALL && errno == EINTR);
    if (again) ERR_clear_error();
    return again;
}

// SIGPIPE held back while OpenSSL writes to a socket the peer may have
// closed (its socket writes cannot ask for MSG_NOSIGNAL); one raised by the
// write is taken away again.
class NoSigpipe {
public:
    NoSigpipe() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigpending(&before_);
        pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    }
    ~NoSigpipe() {
        if (!sigismember(&before_, SIGPIPE)) {
            sigset_t now;
            sigpending(&now);
            timespec zero{0, 0};
            if (sigismember(&now, SIGPIPE)) sigtimedwait(&pipe_, nullptr, &zero);
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }

private:
    sigset_t pipe_, before_, old_;
};

int tls_send(unsigned socket, const char *data, std::size_t len) {
    SSL *ssl = find(socket);
    if (!ssl) {
        t_error = 10038;
        return -1;
    }
    NoSigpipe guard;
    std::size_t written = 0;
    int rc = 1;
    while (len > 0 && (rc = SSL_write_ex(ssl, data, len, &written)) != 1 && interrupted(ssl, rc)) {
    }
    if (rc != 1) {
        t_error = winsock::WSAETIMEDOUT;
        ERR_clear_error();
        return -1;
    }
    return static_cast<int>(std::min<std::size_t>(len, 0x7fffffff));
}

int tls_recv_within(unsigned socket, char *buf, std::size_t len, int ms) {
    SSL *ssl = find(socket);
    if (!ssl) {
        t_error = 10038;
        return -1;
    }
    if (SSL_pending(ssl) == 0) {
        pollfd p{static_cast<int>(socket), POLLIN, 0};
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        int r;
        do {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            r = left.count() > 0 ? ::poll(&p, 1, static_cast<int>(left.count())) : 0;
        } while (r < 0 && errno == EINTR);
        if (r <= 0) {
            t_error = winsock::WSAETIMEDOUT;
            return -1;
        }
    }
    std::size_t got = 0;
    int rc;
    while ((rc = SSL_read_ex(ssl, buf, len, &got)) != 1 && interrupted(ssl, rc)) {
    }
    if (rc == 1) return static_cast<int>(got);
    int e = SSL_get_error(ssl, rc);
    ERR_clear_error();
    if (e == SSL_ERROR_ZERO_RETURN) return 0;
    t_error = winsock::WSAETIMEDOUT;
    return -1;
}

int tls_error() { return t_error; }

}  // namespace vellor::transport
