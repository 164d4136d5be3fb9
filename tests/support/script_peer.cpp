// The scripted SMTP peer; see script_peer.h.
#include "script_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace testenv {

namespace {
constexpr int kWaitMs = 8000;
}

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
}

std::string ScriptPeer::transcript() {
    if (thread_.joinable()) thread_.join();
    std::lock_guard<std::mutex> g(mu_);
    return received_;
}

void ScriptPeer::run() {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs * 2);
    for (int n = 0; n < connections_ && !stop_; ++n) {
        pollfd p{listen_fd_, POLLIN, 0};
        int fd = -1;
        while (!stop_ && std::chrono::steady_clock::now() < deadline) {
            if (::poll(&p, 1, 50) == 1) {
                fd = ::accept(listen_fd_, nullptr, nullptr);
                break;
            }
        }
        if (fd < 0) return;
        ++accepted_;
        play(fd, n);
        ::close(fd);
    }
}

void ScriptPeer::play(int fd, int connection) {
    std::string pending;
    auto read_until = [&](const std::string &end) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
        for (std::size_t from = 0;;) {
            std::size_t at = pending.find(end, from);
            if (at != std::string::npos) {
                pending.erase(0, at + end.size());
                return true;
            }
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd p{fd, POLLIN, 0};
            if (stop_ || left.count() <= 0) return false;
            if (::poll(&p, 1, 50) != 1) continue;
            char buf[65536];
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) return false;
            from = pending.size() < end.size() ? 0 : pending.size() - end.size() + 1;  // look only at what is new
            pending.append(buf, static_cast<std::size_t>(n));
            std::lock_guard<std::mutex> g(mu_);
            received_.append(buf, static_cast<std::size_t>(n));
        }
    };
    int parts = 0;
    for (const auto &s : script_.steps) parts += s.kind == Script::Next;
    int part = 0, mine = std::min(connection, parts);
    for (const auto &s : script_.steps) {
        if (s.kind == Script::Next) ++part;
        if (part != mine || s.kind == Script::Next) continue;
        switch (s.kind) {
            case Script::Say:
                ::send(fd, s.text.data(), s.text.size(), MSG_NOSIGNAL);
                break;
            case Script::Line:
                if (!read_until("\r\n")) return;
                break;
            case Script::Data:
                if (!read_until("\r\n.\r\n")) return;
                break;
            case Script::Pause:
                std::this_thread::sleep_for(std::chrono::milliseconds(s.ms));
                break;
            case Script::Close:
                return;
            case Script::Remove:
                ::unlink(s.text.c_str());
                break;
            case Script::Next:
                break;
        }
    }
    // Collect whatever else the client sends until it closes (bounded).
    read_until(std::string("\0\0never\0", 8));
}

}  // namespace testenv
