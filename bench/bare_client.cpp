// The floor of the dialogue: a bare SMTP client with nothing but the
// protocol. One connection; for every queued file it opens, reads and
// closes the file, then sends MAIL, RCPT, DATA and the message with its
// end-of-data line, waiting for each reply (lockstep) or, pipelined, with
// MAIL, RCPT and DATA in one write. Prints the seconds from connect to QUIT.
// Usage: bare_client DIR PORT COUNT [pipelined]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "loopback.h"

namespace {

int g_fd = -1;
char g_buf[8192];

// Reads until `replies` whole final reply lines have come.
bool replies(int count) {
    int seen = 0;
    std::string pending;
    while (seen < count) {
        ssize_t n = recv(g_fd, g_buf, sizeof g_buf, 0);
        if (n <= 0) return false;
        pending.append(g_buf, static_cast<std::size_t>(n));
        std::size_t nl;
        while ((nl = pending.find('\n')) != std::string::npos) {
            if (nl >= 3 && pending[3] != '-') ++seen;
            pending.erase(0, nl + 1);
        }
    }
    return true;
}

bool say(const std::string &text) {
    return send(g_fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

std::string read_file(const std::string &path) {
    std::string out;
    int fd = open(path.c_str(), O_RDONLY);
    ssize_t n;
    while ((n = read(fd, g_buf, sizeof g_buf)) > 0) out.append(g_buf, static_cast<std::size_t>(n));
    close(fd);
    return out;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 4) return 2;
    std::string dir = argv[1];
    int port = atoi(argv[2]), count = atoi(argv[3]);
    bool pipelined = argc > 4;
    auto t0 = std::chrono::steady_clock::now();
    g_fd = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(g_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in sa = loopback_address(port);
    if (connect(g_fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 || !replies(1)) return 1;
    if (!say(pipelined ? "EHLO bench.example.org\r\n" : "HELO bench.example.org\r\n") || !replies(1)) return 1;
    const std::string mail = "MAIL FROM:<bench@example.org>\r\n", rcpt = "RCPT TO:<sink@example.org>\r\n";
    for (int i = 0; i < count; ++i) {
        char name[64];
        snprintf(name, sizeof name, "/m%04d.txt", i);
        std::string body = read_file(dir + name) + "\r\n.\r\n";
        bool ok = pipelined ? say(mail + rcpt + "DATA\r\n") && replies(3)
                            : say(mail) && replies(1) && say(rcpt) && replies(1) && say("DATA\r\n") && replies(1);
        if (!ok || !say(body) || !replies(1)) return 1;
    }
    say("QUIT\r\n");
    replies(1);
    close(g_fd);
    printf("%.6f\n", std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    return 0;
}
