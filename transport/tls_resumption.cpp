// The store of resumable TLS sessions: a map under one lock, ordered by
// when each entry was kept so the oldest gives way when the store is full.
// Freeing a session is left to its last owner, outside the lock.
#include "transport/tls_resumption.h"

#include <cstdint>
#include <map>
#include <mutex>

namespace vellor::transport::resumption {
namespace {

constexpr std::size_t kMostKept = 64;

struct Entry {
    std::shared_ptr<void> session;
    std::uint64_t kept_as = 0;  // the order it was kept in
};

struct Store {
    std::mutex m;
    std::map<std::string, Entry> entries;
    std::uint64_t count = 0;
};

Store &store() {
    static Store *s = new Store;  // never destroyed: a session may outlive static destruction
    return *s;
}

// The entry kept first (under the lock); the store is not empty.
std::map<std::string, Entry>::iterator oldest(Store &s) {
    auto first = s.entries.begin();
    for (auto it = s.entries.begin(); it != s.entries.end(); ++it)
        if (it->second.kept_as < first->second.kept_as) first = it;
    return first;
}

}  // namespace

void forget_all() {
    Store &s = store();
    std::map<std::string, Entry> gone;
    std::lock_guard<std::mutex> lock(s.m);
    gone.swap(s.entries);
}

void keep(const std::string &key, std::shared_ptr<void> session) {
    if (!session) return;
    Store &s = store();
    std::shared_ptr<void> replaced;
    std::lock_guard<std::mutex> lock(s.m);
    auto it = s.entries.find(key);
    if (it == s.entries.end() && s.entries.size() >= kMostKept) s.entries.erase(oldest(s));
    Entry &e = s.entries[key];
    replaced = std::move(e.session);
    e = Entry{std::move(session), ++s.count};
}

std::shared_ptr<void> take(const std::string &key) {
    Store &s = store();
    std::lock_guard<std::mutex> lock(s.m);
    auto it = s.entries.find(key);
    if (it == s.entries.end()) return nullptr;
    std::shared_ptr<void> session = std::move(it->second.session);
    s.entries.erase(it);
    return session;
}

}  // namespace vellor::transport::resumption
