// The scripted SMTP peer; see script_peer.h.
#include "script_peer.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <unistd.h>

#include <algorithm>

namespace testenv {

namespace {
using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kWait(8000);
}  // namespace

Script smtp_accepting() {
    Script s;
    s.say("220 peer ready\r\n").line().say("250 hello\r\n").line().say("250 sender ok\r\n");
    s.line().say("250 recipient ok\r\n").line().say("354 go ahead\r\n").data().say("250 queued\r\n");
    return s.line().say("221 bye\r\n");
}

ScriptPeer::ScriptPeer(Script script, const char *address, int port, int connections)
    : script_(std::move(script)), connections_(connections) {
    listen_fd_ = bind_loopback(SOCK_STREAM, address, port, port_);
    ::listen(listen_fd_, 8);
    thread_ = std::thread([this] {
        sigset_t all;  // signals are for the client under test, never for the peer
        ::sigfillset(&all);
        ::pthread_sigmask(SIG_BLOCK, &all, nullptr);
        run();
    });
}

ScriptPeer::~ScriptPeer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    ::close(listen_fd_);
    SSL_CTX_free(static_cast<SSL_CTX *>(tls_context_));
}

std::string ScriptPeer::transcript() {
    if (thread_.joinable()) thread_.join();
    std::lock_guard<std::mutex> g(mu_);
    return received_;
}

void ScriptPeer::run() {
    auto deadline = Clock::now() + 2 * kWait;
    for (int n = 0; n < connections_ && !stop_; ++n) {
        pollfd p{listen_fd_, POLLIN, 0};
        int fd = -1;
        while (fd < 0 && !stop_ && Clock::now() < deadline)
            if (::poll(&p, 1, 50) == 1) fd = ::accept(listen_fd_, nullptr, nullptr);
        if (fd < 0) return;
        ++accepted_;
        play(fd, n);
        ::close(fd);
    }
}

// One accepted connection: its socket and, once the script turned to TLS,
// the server's TLS state over two memory buffers.
struct ScriptPeer::Conn {
    explicit Conn(int socket) : fd(socket) {}
    int fd;
    std::string pending;  // bytes read (from inside TLS once it is on) not yet matched
    SSL *ssl = nullptr;
    BIO *in = nullptr, *out = nullptr;  // raw bytes from the client; raw bytes for it
    ~Conn() {
        SSL_free(ssl);  // frees both buffers
    }
    // Sends what TLS wrote for the client (or `plain`), each byte `ms` apart;
    // `keep` bytes of it held back. False once the client is gone.
    bool emit(const std::string &plain, int ms, std::size_t keep, const std::atomic<bool> &stop) {
        std::string raw = plain;
        char buf[16384];
        for (int n; out && (n = BIO_read(out, buf, sizeof buf)) > 0;) raw.append(buf, static_cast<std::size_t>(n));
        raw.resize(raw.size() - std::min(keep, raw.size()));
        std::size_t step = ms > 0 ? 1 : raw.size();
        for (std::size_t at = 0; at < raw.size() && !stop; at += step) {
            if (at > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            if (::send(fd, raw.data() + at, std::min(step, raw.size() - at), MSG_NOSIGNAL) <= 0) return false;
        }
        return true;
    }
    // Takes raw bytes from the client; what TLS opened is appended to `got`.
    void take(const char *data, std::size_t n, std::string &got) {
        if (!ssl) {
            got.append(data, n);
            return;
        }
        BIO_write(in, data, static_cast<int>(n));
        char buf[16384];
        for (int k; (k = SSL_read(ssl, buf, sizeof buf)) > 0;) got.append(buf, static_cast<std::size_t>(k));
    }
};

// Waits up to 50 ms for bytes from the client: how many came (0: none yet),
// or -1 once the client is gone, the peer stops or the deadline has passed.
long ScriptPeer::receive(int fd, Clock::time_point deadline, char *buf, std::size_t size) {
    pollfd p{fd, POLLIN, 0};
    if (stop_ || Clock::now() > deadline) return -1;
    if (::poll(&p, 1, 50) != 1) return 0;
    ssize_t n = ::recv(fd, buf, size, 0);
    return n > 0 ? n : -1;
}

// Reads until `end` (bounded), keeping what comes after it for the next step.
bool ScriptPeer::read_until(Conn &c, const std::string &end) {
    auto deadline = Clock::now() + kWait;
    for (std::size_t from = 0;;) {
        std::size_t at = c.pending.find(end, from);
        if (at != std::string::npos) {
            c.pending.erase(0, at + end.size());
            return true;
        }
        char buf[65536];
        long n = receive(c.fd, deadline, buf, sizeof buf);
        if (n < 0) return false;
        from = c.pending.size() < end.size() ? 0 : c.pending.size() - end.size() + 1;  // look only at what is new
        std::string got;
        c.take(buf, static_cast<std::size_t>(n), got);
        c.pending += got;
        std::lock_guard<std::mutex> g(mu_);
        received_ += got;
    }
}

namespace {
// The server's TLS state on a connection, with the certificate in `certs`
// (the context made by the first connection that asks).
bool start_tls(const std::string &certs, void *&context, SSL *&ssl, BIO *&in, BIO *&out) {
    auto *ctx = static_cast<SSL_CTX *>(context);
    if (!ctx) {
        context = ctx = SSL_CTX_new(TLS_server_method());
        if (!ctx || SSL_CTX_use_certificate_chain_file(ctx, (certs + "/server.pem").c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(ctx, (certs + "/server.key").c_str(), SSL_FILETYPE_PEM) != 1)
            return false;
    }
    ssl = SSL_new(ctx);
    in = BIO_new(BIO_s_mem());
    out = BIO_new(BIO_s_mem());
    SSL_set_bio(ssl, in, out);
    SSL_set_accept_state(ssl);
    return true;
}
}  // namespace

bool ScriptPeer::step(Conn &c, const Script::Step &s) {
    switch (s.kind) {
        case Script::Say:  // a drip has its pace; inside TLS the text is sealed first
        case Script::Drip:
        case Script::Short:
            if (c.ssl) SSL_write(c.ssl, s.text.data(), static_cast<int>(s.text.size()));
            return c.emit(c.ssl ? "" : s.text, s.ms, c.ssl && s.kind == Script::Short ? 1 : 0, stop_);
        case Script::Line:
            return read_until(c, "\r\n");
        case Script::Data:
            return read_until(c, "\r\n.\r\n");
        case Script::Pause:
            std::this_thread::sleep_for(std::chrono::milliseconds(s.ms));
            return true;
        case Script::Close:
            return false;
        case Script::Remove:
            ::unlink(s.text.c_str());
            return true;
        case Script::Replace:
            write_file(s.text + ".new", s.body);
            ::rename((s.text + ".new").c_str(), s.text.c_str());
            return true;
        case Script::Rewrite:
            write_file(s.text, s.body);
            return true;
        case Script::Tls: {
            if (s.body == "fresh") {
                SSL_CTX_free(static_cast<SSL_CTX *>(tls_context_));
                tls_context_ = nullptr;
            }
            if (!start_tls(s.text, tls_context_, c.ssl, c.in, c.out)) return false;
            auto deadline = Clock::now() + kWait;
            for (int rc; (rc = SSL_do_handshake(c.ssl)) != 1;) {
                if (!c.emit("", s.ms, 0, stop_) || SSL_get_error(c.ssl, rc) != SSL_ERROR_WANT_READ) return false;
                char buf[16384];
                long n = receive(c.fd, deadline, buf, sizeof buf);
                if (n < 0) return false;
                BIO_write(c.in, buf, static_cast<int>(n));
            }
            return c.emit("", s.ms, 0, stop_);
        }
        case Script::Next:
            return true;
    }
    return true;
}

// The part of the script after as many next() as the connection's number
// (the last part for the connections beyond).
void ScriptPeer::play(int fd, int connection) {
    Conn c(fd);
    const auto &steps = script_.steps;
    auto next = [](const Script::Step &s) { return s.kind == Script::Next; };
    int part = 0, mine = std::min(connection, static_cast<int>(std::count_if(steps.begin(), steps.end(), next)));
    for (const auto &s : steps) {
        part += next(s);
        if (part == mine && !next(s) && !step(c, s)) return;
    }
    // Collect whatever else the client sends until it closes (bounded).
    read_until(c, std::string("\0\0never\0", 8));
}

}  // namespace testenv
