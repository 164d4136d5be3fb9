// What the bare clients (bare_client, bare_lanes) share: a queued message
// as the dialogue sends it, and the whole final reply lines in what a
// connection has received.
#pragma once
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

// Queued message NUMBER of DIR (DIR/m0000.txt on), read whole, with the
// end-of-data line after it.
inline std::string queued_message(const std::string &dir, int number) {
    char name[64];
    snprintf(name, sizeof name, "/m%04d.txt", number);
    std::string out;
    char buf[8192];
    int fd = open((dir + name).c_str(), O_RDONLY);
    ssize_t n;
    while (fd >= 0 && (n = read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
    if (fd >= 0) close(fd);
    return out + "\r\n.\r\n";
}

// Takes the whole lines out of `pending`; the number of final reply lines
// among them (a line whose fourth character is not '-').
inline int take_final_replies(std::string &pending) {
    int seen = 0;
    std::size_t nl;
    while ((nl = pending.find('\n')) != std::string::npos) {
        if (nl >= 3 && pending[3] != '-') ++seen;
        pending.erase(0, nl + 1);
    }
    return seen;
}
