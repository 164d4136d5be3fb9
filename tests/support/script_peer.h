// A scripted SMTP peer on a loopback address: it accepts connections (one
// after another, up to a given number), plays the script on each (replies,
// reads of one command or of a whole message, pauses, a close, a file
// removed in the middle of a conversation; a script
// split by next() gives each connection its own part, the last part
// serving the connections beyond), and records every byte the client sent.
// It can turn to TLS in the middle (the server side of a handshake with a
// certificate of tests/servers/make_certs.sh, through OpenSSL over memory
// buffers, so it decides how each raw byte leaves): replies then go sealed,
// commands are recorded as read from inside TLS, and a reply or the
// handshake can drip out a byte at a time or stop one byte short of a
// record's end. Its connections share one TLS context, so a client can
// resume an earlier connection's session. Every wait is bounded.
#pragma once
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "test_env.h"

namespace testenv {

class Script {
public:
    Script &say(const std::string &text) { return add(Say, text); }
    Script &line() { return add(Line, ""); }  // one command up to CR LF
    Script &data() { return add(Data, ""); }  // up to "\r\n.\r\n"
    Script &pause(int ms) { return add(Pause, "", ms); }
    Script &close() { return add(Close, ""); }
    Script &next() { return add(Next, ""); }                               // what follows is for the next connection
    Script &remove(const std::string &path) { return add(Remove, path); }  // a file, as another program might
    // The server side of a TLS handshake with certs/server.pem, its bytes one
    // every `ms` milliseconds (0: at once); what follows is inside TLS.
    // `fresh`: with a server context of its own, so a session an earlier
    // connection gave is unknown and resuming it is refused.
    Script &tls(const std::string &certs, int ms = 0, bool fresh = false) {
        return add(Tls, certs, ms, fresh ? "fresh" : "");
    }
    // The text's bytes (inside TLS, its records' bytes) one every `ms`.
    Script &drip(const std::string &text, int ms) { return add(Drip, text, ms); }
    // Inside TLS: the text sealed in one record, sent without its last byte.
    Script &short_record(const std::string &text) { return add(Short, text); }

    // A file given new text, as an application might: a new file renamed
    // over the name (replace), or the same file written over (in place).
    Script &write(const std::string &path, const std::string &text, bool replace) {
        return add(replace ? Replace : Rewrite, path, 0, text);
    }

    enum Kind { Say, Line, Data, Pause, Close, Next, Remove, Replace, Rewrite, Tls, Drip, Short };
    struct Step {
        Kind kind;
        std::string text;
        int ms;
        std::string body;
    };
    std::vector<Step> steps;

private:
    Script &add(Kind k, const std::string &t, int ms = 0, const std::string &body = "") {
        steps.push_back({k, t, ms, body});
        return *this;
    }
};

// The SMTP conversation of one accepted message, replies given in order:
// greeting, HELO, MAIL, RCPT, DATA (354), then the final reply and QUIT.
Script smtp_accepting();

class ScriptPeer {
public:
    ScriptPeer(Script script, const char *address = "127.0.0.1", int port = 0, int connections = 1);
    ~ScriptPeer();
    int port() const { return port_; }
    // Waits (bounded) for the peer to finish, then gives what the client sent
    // over all connections.
    std::string transcript();
    int accepted() const { return accepted_; }

private:
    void run();
    void play(int fd, int connection);
    struct Conn;
    long receive(int fd, std::chrono::steady_clock::time_point deadline, char *buf, std::size_t size);
    bool read_until(Conn &c, const std::string &end);
    bool step(Conn &c, const Script::Step &s);

    Script script_;
    int listen_fd_ = -1;
    int port_ = 0;
    int connections_;
    std::atomic<int> accepted_{0};
    std::atomic<bool> stop_{false};
    std::mutex mu_;
    std::string received_;
    std::thread thread_;
    void *tls_context_ = nullptr;  // one server context for every connection, so sessions resume
};

}  // namespace testenv
