// The pool of connections kept between calls, with its reaper: one thread,
// started with the first connection kept and stopped at close-down, that
// closes each connection when its idle limit passes. Network work (a
// farewell, a close) is never done under the pool's lock. The pool is made
// once and never destroyed, so a process that ends without closing the
// library down ends its connections with it.
#include "transport/kept_connections.h"

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

namespace vellor::transport::kept {
namespace {

constexpr std::size_t kMostKept = 64;
constexpr auto kReaperNap = std::chrono::seconds(60);  // its longest wait with nothing due

struct Entry {
    Kept kept;
    Clock::time_point until;
};

struct Pool {
    std::mutex m;
    std::condition_variable changed;
    std::multimap<std::string, Entry> entries;
    bool open = false;
    std::thread reaper;
};

Pool &pool() {
    static Pool *p = new Pool;  // never destroyed: see the top of this file
    return *p;
}

// The entries whose idle limit passed, taken out (under the lock).
std::vector<Kept> expired(Pool &p, Clock::time_point now, Clock::time_point &next) {
    std::vector<Kept> out;
    next = now + kReaperNap;
    for (auto it = p.entries.begin(); it != p.entries.end();) {
        if (it->second.until <= now) {
            out.push_back(std::move(it->second.kept));
            it = p.entries.erase(it);
            continue;
        }
        next = std::min(next, it->second.until);
        ++it;
    }
    return out;
}

void reap(Pool &p) {
    std::unique_lock<std::mutex> lock(p.m);
    while (p.open) {
        Clock::time_point next;
        std::vector<Kept> due = expired(p, Clock::now(), next);
        if (due.empty()) {
            p.changed.wait_until(lock, next);
            continue;
        }
        lock.unlock();
        for (Kept &k : due) end(std::move(k));
        lock.lock();
    }
}

}  // namespace

void open() {
    Pool &p = pool();
    std::lock_guard<std::mutex> lock(p.m);
    p.open = true;
}

void close_all() {
    Pool &p = pool();
    std::vector<Kept> all;
    std::thread reaper;
    {
        std::lock_guard<std::mutex> lock(p.m);
        p.open = false;
        for (auto &[key, e] : p.entries) all.push_back(std::move(e.kept));
        p.entries.clear();
        reaper = std::move(p.reaper);
    }
    p.changed.notify_all();
    if (reaper.joinable()) reaper.join();
    for (Kept &k : all) end(std::move(k));
}

bool accepting() {
    Pool &p = pool();
    std::lock_guard<std::mutex> lock(p.m);
    return p.open;
}

bool keep(const std::string &key, Kept kept, std::chrono::seconds idle) {
    Pool &p = pool();
    {
        std::lock_guard<std::mutex> lock(p.m);
        if (p.open && p.entries.size() < kMostKept) {
            p.entries.emplace(key, Entry{std::move(kept), Clock::now() + idle});
            if (!p.reaper.joinable()) p.reaper = std::thread(reap, std::ref(p));
            p.changed.notify_all();
            return true;
        }
    }
    end(std::move(kept));
    return false;
}

std::optional<Kept> take(const std::string &key) {
    Pool &p = pool();
    std::lock_guard<std::mutex> lock(p.m);
    auto range = p.entries.equal_range(key);
    if (range.first == range.second) return std::nullopt;
    auto last = std::prev(range.second);
    Kept k = std::move(last->second.kept);
    p.entries.erase(last);
    return k;
}

void end(Kept kept) {
    Connection c;
    c.adopt(std::move(kept.line));
    for (std::size_t sent = 0; sent < kept.farewell.size();) {
        int n = c.send(kept.farewell.data() + sent, kept.farewell.size() - sent, false);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
    }
    if (c.socket() != 0) c.close_socket();
}

std::string digest(const std::string &text) {
    static const uint64_t salts[2] = {std::random_device{}() * 0x100000001ull + std::random_device{}(),
                                      std::random_device{}() * 0x100000001ull + std::random_device{}()};
    std::string out;
    for (uint64_t h : salts) {
        for (unsigned char ch : text) h = (h ^ ch) * 0x100000001b3ull;  // FNV-1a over the salt
        char hex[17];
        std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
        out += hex;
    }
    return out;
}

}  // namespace vellor::transport::kept
