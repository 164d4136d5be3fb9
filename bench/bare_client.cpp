// The floor of the dialogue: a bare SMTP client with nothing but the
// protocol. One connection; for every queued file it opens, reads and
// closes the file, then sends MAIL, RCPT, DATA and the message with its
// end-of-data line, waiting for each reply (lockstep) or, pipelined, with
// MAIL, RCPT and DATA in one write; or, with `tls CAFILE`, lockstep over one
// TLS connection from the first byte (OpenSSL, the certificate checked for
// localhost, EHLO as the library greets inside TLS). Prints the seconds from
// connect to QUIT.
// Usage: bare_client DIR PORT COUNT [pipelined | tls CAFILE]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bare_dialogue.h"
#include "loopback.h"

namespace {

int g_fd = -1;
SSL *g_ssl = nullptr;  // with `tls`: the connection's TLS
char g_buf[8192];

ssize_t take(char *buf, std::size_t n) {
    if (!g_ssl) return recv(g_fd, buf, n, 0);
    std::size_t got = 0;
    return SSL_read_ex(g_ssl, buf, n, &got) == 1 ? static_cast<ssize_t>(got) : -1;
}

bool put(const char *data, std::size_t n) {
    if (!g_ssl) return send(g_fd, data, n, MSG_NOSIGNAL) == static_cast<ssize_t>(n);
    std::size_t done = 0;
    return SSL_write_ex(g_ssl, data, n, &done) == 1 && done == n;
}

// TLS from the first byte, the server's certificate checked against CAFILE.
bool start_tls(const char *ca_file) {
    SSL_CTX *ctx = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    if (SSL_CTX_load_verify_locations(ctx, ca_file, nullptr) != 1) return false;
    g_ssl = SSL_new(ctx);
    SSL_set_tlsext_host_name(g_ssl, "localhost");
    SSL_set1_host(g_ssl, "localhost");
    SSL_set_fd(g_ssl, g_fd);
    return SSL_connect(g_ssl) == 1;
}

// Reads until `replies` whole final reply lines have come.
bool replies(int count) {
    int seen = 0;
    std::string pending;
    while (seen < count) {
        ssize_t n = take(g_buf, sizeof g_buf);
        if (n <= 0) return false;
        pending.append(g_buf, static_cast<std::size_t>(n));
        seen += take_final_replies(pending);
    }
    return true;
}

bool say(const std::string &text) { return put(text.data(), text.size()); }

}  // namespace

int main(int argc, char **argv) {
    if (argc < 4) return 2;
    std::string dir = argv[1];
    int port = atoi(argv[2]), count = atoi(argv[3]);
    bool tls = argc > 5 && std::strcmp(argv[4], "tls") == 0;
    bool pipelined = argc > 4 && !tls;
    auto t0 = std::chrono::steady_clock::now();
    g_fd = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(g_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in sa = loopback_address(port);
    if (connect(g_fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) return 1;
    if ((tls && !start_tls(argv[5])) || !replies(1)) return 1;
    if (!say(pipelined || tls ? "EHLO bench.example.org\r\n" : "HELO bench.example.org\r\n") || !replies(1)) return 1;
    const std::string mail = "MAIL FROM:<bench@example.org>\r\n", rcpt = "RCPT TO:<sink@example.org>\r\n";
    for (int i = 0; i < count; ++i) {
        std::string body = queued_message(dir, i);
        bool ok = pipelined ? say(mail + rcpt + "DATA\r\n") && replies(3)
                            : say(mail) && replies(1) && say(rcpt) && replies(1) && say("DATA\r\n") && replies(1);
        if (!ok || !say(body) || !replies(1)) return 1;
    }
    say("QUIT\r\n");
    replies(1);
    if (g_ssl) SSL_shutdown(g_ssl);
    close(g_fd);
    printf("%.6f\n", std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    return 0;
}
