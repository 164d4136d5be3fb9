// The floor of a queue over several connections: a bare SMTP client with
// nothing but the protocol, one thread driving N plain connections through
// one poll() loop, each connection lockstep (MAIL, RCPT, DATA, the message
// with its end-of-data line, each waiting for its reply). A connection takes
// the next queued message number before its MAIL, when its previous
// message is accepted, and opens, reads and closes that file for its DATA:
// every message goes once, as the library's lanes take them.
// Prints the seconds from the first connect to the last QUIT's reply.
// Usage: bare_lanes DIR PORT COUNT CONNECTIONS
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bare_dialogue.h"
#include "loopback.h"

namespace {

std::string g_dir;
int g_next = 0, g_count = 0;

// One connection: the step whose reply it awaits, the message it took and
// its unread bytes.
struct Lane {
    enum Step { Banner, Helo, Mail, Rcpt, Data, Body, Quit } awaiting = Banner;
    int fd = -1, message = -1;
    std::string pending;
};

bool say(const Lane &l, const std::string &text) {
    return send(l.fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

// The reply to the lane's step has come: sends the next command; false when
// the lane is done (QUIT answered) or failed.
bool advance(Lane &l) {
    switch (l.awaiting) {
        case Lane::Banner:
            l.awaiting = Lane::Helo;
            return say(l, "HELO bench.example.org\r\n");
        case Lane::Rcpt:
            l.awaiting = Lane::Data;
            return say(l, "DATA\r\n");
        case Lane::Mail:
            l.awaiting = Lane::Rcpt;
            return say(l, "RCPT TO:<sink@example.org>\r\n");
        case Lane::Data:
            l.awaiting = Lane::Body;
            return say(l, queued_message(g_dir, l.message));
        case Lane::Helo:
        case Lane::Body:
            if (g_next >= g_count) {
                l.awaiting = Lane::Quit;
                return say(l, "QUIT\r\n");
            }
            l.awaiting = Lane::Mail;
            l.message = g_next++;  // taken before its MAIL: no two lanes take one, none takes more than COUNT
            return say(l, "MAIL FROM:<bench@example.org>\r\n");
        case Lane::Quit:
            return false;
    }
    return false;
}

// Reads what the lane has; the number of whole final reply lines in it, or
// -1 when the connection ended.
int replies(Lane &l) {
    char buf[8192];
    ssize_t n = recv(l.fd, buf, sizeof buf, 0);
    if (n <= 0) return -1;
    l.pending.append(buf, static_cast<std::size_t>(n));
    return take_final_replies(l.pending);
}

int dial(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0), one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in sa = loopback_address(port);
    return connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0 ? fd : -1;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 5) return 2;
    g_dir = argv[1];
    int port = atoi(argv[2]), lanes = atoi(argv[4]);
    g_count = atoi(argv[3]);
    auto t0 = std::chrono::steady_clock::now();
    std::vector<Lane> lane(static_cast<std::size_t>(lanes));
    std::vector<pollfd> polled(lane.size());
    for (std::size_t i = 0; i < lane.size(); ++i) {
        if ((lane[i].fd = dial(port)) < 0) return 1;
        polled[i] = {lane[i].fd, POLLIN, 0};
    }
    for (int live = lanes; live > 0;) {
        if (poll(polled.data(), polled.size(), 30000) <= 0) return 1;
        for (std::size_t i = 0; i < lane.size(); ++i) {
            if (polled[i].fd < 0 || polled[i].revents == 0) continue;
            int got = replies(lane[i]);
            if (got == 0) continue;
            if (got < 0 && lane[i].awaiting != Lane::Quit) return 1;
            if (got < 0 || !advance(lane[i])) {
                close(lane[i].fd);
                polled[i].fd = -1;
                --live;
            }
        }
    }
    if (g_next < g_count) return 1;
    printf("%.6f\n", std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    return 0;
}
