// A TCP proxy that delays every byte by half a round trip in each direction,
// for the latency benchmark: a relay 20-100 ms away, on loopback. Each
// connection accepted on LISTEN_PORT is joined to 127.0.0.1:TARGET_PORT;
// what one side sends reaches the other RTT_MS / 2 later, in the order it
// was sent, an end of stream too. The TCP handshake is a round trip and a
// half on a real link, and the kernel here completes it at once: so the
// client's bytes leave no earlier than a round trip after it connected and
// the server's no earlier than one and a half, and a greeting arrives two
// round trips after the connect, as over the link modelled. One poll()
// loop, no thread.
// Usage: delay_proxy LISTEN_PORT TARGET_PORT RTT_MS
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Piece {
    Clock::time_point due;
    std::string bytes;  // empty: the end of the stream
};

// One direction: bytes read from `from`, written to `to` once due.
struct Direction {
    int from = -1, to = -1;
    Clock::time_point open;  // when this side may first send: its end of the handshake
    std::deque<Piece> queue;
    bool read_done = false, write_done = false;
};

struct Pair {
    Direction way[2];  // client to server, server to client
    bool done() const { return way[0].write_done && way[1].write_done; }
};

int listen_on(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(fd, 64) != 0) {
        perror("delay_proxy: listen");
        exit(1);
    }
    return fd;
}

int connect_to(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void no_delay(int fd) {
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// Writes every due piece; false when the peer is gone.
bool write_due(Direction &d, Clock::time_point now) {
    while (!d.queue.empty() && d.queue.front().due <= now) {
        Piece &p = d.queue.front();
        if (p.bytes.empty()) {
            shutdown(d.to, SHUT_WR);
            d.write_done = true;
        }
        for (std::size_t at = 0; at < p.bytes.size();) {
            ssize_t n = send(d.to, p.bytes.data() + at, p.bytes.size() - at, MSG_NOSIGNAL);
            if (n <= 0) return false;
            at += static_cast<std::size_t>(n);
        }
        d.queue.pop_front();
    }
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: delay_proxy LISTEN_PORT TARGET_PORT RTT_MS\n");
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    const int target = atoi(argv[2]);
    const auto half = std::chrono::microseconds(atoi(argv[3]) * 500);
    int lfd = listen_on(atoi(argv[1]));
    std::vector<std::unique_ptr<Pair>> pairs;
    for (;;) {
        std::vector<pollfd> fds{{lfd, POLLIN, 0}};
        std::vector<Direction *> readers;
        Clock::time_point now = Clock::now(), next = now + std::chrono::seconds(1);
        for (auto &p : pairs)
            for (Direction &d : p->way) {
                if (!d.read_done) {
                    fds.push_back({d.from, POLLIN, 0});
                    readers.push_back(&d);
                }
                if (!d.queue.empty() && d.queue.front().due < next) next = d.queue.front().due;
            }
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count();
        poll(fds.data(), fds.size(), wait < 0 ? 0 : static_cast<int>(wait) + 1);
        now = Clock::now();
        if (fds[0].revents & POLLIN) {
            int c = accept(lfd, nullptr, nullptr);
            int s = c >= 0 ? connect_to(target) : -1;
            if (s >= 0) {
                no_delay(c);
                no_delay(s);
                auto p = std::make_unique<Pair>();
                p->way[0].from = p->way[1].to = c;
                p->way[0].to = p->way[1].from = s;
                p->way[0].open = now + 2 * half;
                p->way[1].open = now + 3 * half;
                pairs.push_back(std::move(p));
            } else if (c >= 0) {
                close(c);
            }
        }
        for (std::size_t i = 0; i < readers.size(); ++i) {
            if (!(fds[i + 1].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            Direction &d = *readers[i];
            char buf[65536];
            ssize_t n = recv(d.from, buf, sizeof buf, 0);
            if (n <= 0) d.read_done = true;
            d.queue.push_back(
                {std::max(now, d.open) + half, n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string()});
        }
        for (auto it = pairs.begin(); it != pairs.end();) {
            Pair &p = **it;
            bool alive = write_due(p.way[0], now) && write_due(p.way[1], now);
            if (alive && !p.done()) {
                ++it;
                continue;
            }
            close(p.way[0].from);
            close(p.way[0].to);
            it = pairs.erase(it);
        }
    }
}
