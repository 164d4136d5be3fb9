// A minimal SMTP sink that reads and discards: "250" to every command, "354"
// to DATA, then reads to the end-of-data line and answers "250"; "221" to
// QUIT. One connection at a time; exits after the given number of sessions.
// With SINK_CHUNKING=1 in its environment its EHLO reply offers PIPELINING
// and CHUNKING, and a BDAT chunk is read and discarded, then answered "250".
// With a certificate and key it speaks TLS from the first byte (OpenSSL),
// or with SINK_STARTTLS=1 offers STARTTLS and AUTH PLAIN (any login is
// taken) and starts TLS when asked; SINK_NO_TICKETS=1 gives no session to
// resume (no tickets, no session cache), as a server without resumption.
// Usage: smtp_discard_sink PORT SESSIONS [CERT KEY]
#include <arpa/inet.h>
#include <openssl/ssl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "loopback.h"

namespace {

SSL *g_ssl = nullptr;      // the session's TLS, when the sink speaks TLS
SSL_CTX *g_ctx = nullptr;  // its context, when the sink has a certificate

void say(int fd, const char *text) {
    if (g_ssl) {
        SSL_write(g_ssl, text, static_cast<int>(strlen(text)));
        return;
    }
    if (send(fd, text, strlen(text), MSG_NOSIGNAL) < 0) return;
}

ssize_t take(int fd, char *buf, size_t n) {
    if (!g_ssl) return recv(fd, buf, n, 0);
    int got = SSL_read(g_ssl, buf, static_cast<int>(std::min<size_t>(n, 1 << 30)));
    return got > 0 ? got : 0;
}

void session(int fd) {
    say(fd, "220 sink ready\r\n");
    std::vector<char> buf(1 << 20);
    std::string pending;
    bool in_data = false;
    std::string tail;             // the last bytes of data seen, for a terminator split over reads
    unsigned long long skip = 0;  // bytes of a BDAT chunk still to discard
    const char *chunking = getenv("SINK_CHUNKING");
    const bool starttls = g_ctx && getenv("SINK_STARTTLS");
    for (;;) {
        ssize_t got = take(fd, buf.data(), buf.size());
        if (got <= 0) return;
        size_t n = static_cast<size_t>(got);
        if (in_data) {
            size_t after = std::string::npos;
            if (const void *end = memmem(buf.data(), n, "\r\n.\r\n", 5)) {
                after = static_cast<size_t>(static_cast<const char *>(end) - buf.data()) + 5;
            } else {
                std::string window = tail + std::string(buf.data(), std::min<size_t>(n, 4));
                size_t at = window.find("\r\n.\r\n");
                if (at != std::string::npos) after = at + 5 - tail.size();
            }
            if (after == std::string::npos) {
                tail = (tail + std::string(buf.data() + n - std::min<size_t>(n, 4), std::min<size_t>(n, 4)));
                tail = tail.substr(tail.size() > 4 ? tail.size() - 4 : 0);
                continue;
            }
            in_data = false;
            tail.clear();
            say(fd, "250 2.0.0 Ok: discarded\r\n");
            pending.assign(buf.data() + after, n - after);
        } else {
            pending.append(buf.data(), n);
        }
        size_t nl;
        for (;;) {
            if (skip > 0) {
                size_t k = static_cast<size_t>(std::min<unsigned long long>(skip, pending.size()));
                pending.erase(0, k);
                skip -= k;
                if (skip > 0) break;
                say(fd, "250 2.0.0 Ok: chunk\r\n");
            }
            if (in_data || (nl = pending.find("\r\n")) == std::string::npos) break;
            std::string line = pending.substr(0, nl);
            pending.erase(0, nl + 2);
            if (starttls && strncasecmp(line.c_str(), "EHLO", 4) == 0) {
                say(fd, g_ssl ? "250-sink\r\n250 AUTH PLAIN\r\n" : "250-sink\r\n250 STARTTLS\r\n");
            } else if (starttls && !g_ssl && strncasecmp(line.c_str(), "STARTTLS", 8) == 0) {
                say(fd, "220 go ahead\r\n");
                g_ssl = SSL_new(g_ctx);
                SSL_set_fd(g_ssl, fd);
                if (SSL_accept(g_ssl) != 1) return;
                pending.clear();
            } else if (starttls && strncasecmp(line.c_str(), "AUTH", 4) == 0) {
                say(fd, "235 2.7.0 Authentication successful\r\n");
            } else if (chunking && strncasecmp(line.c_str(), "EHLO", 4) == 0) {
                say(fd, "250-sink\r\n250-PIPELINING\r\n250 CHUNKING\r\n");
            } else if (chunking && strncasecmp(line.c_str(), "BDAT ", 5) == 0) {
                skip = strtoull(line.c_str() + 5, nullptr, 10);
                if (skip == 0) say(fd, "250 2.0.0 Ok: chunk\r\n");
            } else if (strncasecmp(line.c_str(), "DATA", 4) == 0) {
                say(fd, "354 End data with <CR><LF>.<CR><LF>\r\n");
                in_data = true;
                pending.clear();
            } else if (strncasecmp(line.c_str(), "QUIT", 4) == 0) {
                say(fd, "221 Bye\r\n");
                return;
            } else {
                say(fd, "250 Ok\r\n");
            }
        }
    }
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) return 2;
    signal(SIGPIPE, SIG_IGN);  // a client gone before the sink's last write ends that session, not the sink
    int port = atoi(argv[1]), sessions = atoi(argv[2]);
    int ls = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(ls, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa = loopback_address(port);
    if (bind(ls, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 || listen(ls, 16) != 0) return 1;
    SSL_CTX *&ctx = g_ctx;
    if (argc >= 5) {
        ctx = SSL_CTX_new(TLS_server_method());
        if (SSL_CTX_use_certificate_chain_file(ctx, argv[3]) != 1 ||
            SSL_CTX_use_PrivateKey_file(ctx, argv[4], SSL_FILETYPE_PEM) != 1)
            return 1;
        if (getenv("SINK_NO_TICKETS")) {
            SSL_CTX_set_options(ctx, SSL_OP_NO_TICKET);
            SSL_CTX_set_num_tickets(ctx, 0);
            SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
        }
    }
    const bool implicit = ctx && !getenv("SINK_STARTTLS");
    for (int i = 0; i < sessions; ++i) {
        int fd = accept(ls, nullptr, nullptr);
        if (fd < 0) continue;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);  // a TLS ticket's small write waits for no ACK
        if (implicit) {
            g_ssl = SSL_new(ctx);
            SSL_set_fd(g_ssl, fd);
            if (SSL_accept(g_ssl) == 1) session(fd);
        } else {
            session(fd);
        }
        if (g_ssl) {
            SSL_shutdown(g_ssl);
            SSL_free(g_ssl);
            g_ssl = nullptr;
        }
        close(fd);
    }
    return 0;
}
