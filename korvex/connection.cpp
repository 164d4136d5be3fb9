// The companion's connection operations: a TCP connection to the session's
// szHostAddress (dotted address, or a host name resolved first and tried
// address by address, at most 8) and nPort, with the connect, send and
// receive time-outs of $KORVEXAPI_TIMEOUT_MS; a socket number is never 0.
// nLastError receives the Winsock code of a failed attempt. A connection to
// a list of addresses of both families (KorvexAPI_Connect_Addresses) is
// tried in order or raced, as its caller asks. The sockets themselves are
// the platform's (posix/connection.cpp, win32/connection.cpp).
#include <algorithm>
#include <chrono>
#include <cstring>

#include "korvex/korvex_internal.h"
#include "common/export_guard.h"

using namespace korvex;

namespace {

constexpr int16_t kHostNotFound = 11001;
constexpr int16_t kNetworkNotReady = 10091;

void list_addresses(TCPSESSION_STRUCTURE *session, std::vector<std::string> &targets) {
    std::size_t n = std::min<std::size_t>(targets.size(), 8);
    targets.resize(n);
    for (std::size_t i = 0; i < n; ++i) {  // dotted addresses: a longer text is left out, never cut
        std::memset(session->szAddress[i], 0, sizeof session->szAddress[i]);
        if (targets[i].size() < sizeof session->szAddress[i])
            std::memcpy(session->szAddress[i], targets[i].data(), targets[i].size());
    }
    session->nAddresses = static_cast<int16_t>(n);
}

// The addresses to try; false when the host cannot be resolved.
bool targets_of(TCPSESSION_STRUCTURE *session, std::vector<std::string> &targets) {
    std::string host(session->szHostAddress, ::strnlen(session->szHostAddress, sizeof session->szHostAddress));
    if (is_dotted(host)) {
        targets.push_back(host);
        return true;
    }
    if (host.empty() || lookup_ipv4(host, targets) != Lookup::Found) return false;
    list_addresses(session, targets);
    return true;
}

constexpr int kInvalidArgument = 10022;
constexpr int kTimedOut = 10060;

using Clock = std::chrono::steady_clock;

int ms_until(Clock::time_point t) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(t - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

// The connects of one race: the addresses in order, the next begun when
// its time comes; the first socket to connect is kept, the others closed.
class Race {
public:
    Race(std::vector<std::string> addresses, uint16_t port, int stagger, const std::string &source)
        : addresses_(std::move(addresses)), port_(port), stagger_(stagger), source_(source) {}
    ~Race() {
        for (uint32_t s : sockets_) close_connection(s);
    }
    Race(const Race &) = delete;
    Race &operator=(const Race &) = delete;

    // The connected socket (never 0) and its address's index, or 0 with
    // the last failure's Winsock code in err.
    uint32_t run(int timeout, int &winner, int &err) {
        Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout), next_at = Clock::now();
        err = kTimedOut;
        for (;;) {
            bool due = sockets_.empty() || (stagger_ > 0 && Clock::now() >= next_at);
            if (next_ < addresses_.size() && due) {
                if (stagger_ <= 0) deadline = Clock::now() + std::chrono::milliseconds(timeout);
                if (begin(err)) next_at = Clock::now() + std::chrono::milliseconds(stagger_);
                continue;
            }
            if (sockets_.empty() || Clock::now() >= deadline) return 0;
            Clock::time_point until =
                next_ < addresses_.size() && stagger_ > 0 ? std::min(next_at, deadline) : deadline;
            int outcome = 0;
            int i = wait_connects(sockets_, ms_until(until), outcome);
            if (i < 0) continue;
            if (outcome == 0) return take(static_cast<std::size_t>(i), winner);
            err = outcome;
            close_connection(sockets_[i]);
            sockets_.erase(sockets_.begin() + i);
            indexes_.erase(indexes_.begin() + i);
            next_at = Clock::now();  // a failure starts the next one at once
        }
    }

private:
    // The next connect begun; false (the failure in err) when it failed at once.
    bool begin(int &err) {
        std::size_t index = next_++;
        int e = 0;
        uint32_t s = begin_connect(addresses_[index], port_, source_, e);
        if (s == 0) {
            err = e;
            return false;
        }
        sockets_.push_back(s);
        indexes_.push_back(static_cast<int>(index));
        return true;
    }
    uint32_t take(std::size_t i, int &winner) {
        uint32_t s = sockets_[i];
        winner = indexes_[i];
        sockets_.erase(sockets_.begin() + static_cast<long>(i));
        indexes_.erase(indexes_.begin() + static_cast<long>(i));
        return s;
    }

    std::vector<std::string> addresses_;
    uint16_t port_;
    int stagger_;
    std::string source_;
    std::size_t next_ = 0;
    std::vector<uint32_t> sockets_;  // connects under way
    std::vector<int> indexes_;       // their addresses
};

// The targets worth trying: those of the source's family when one is given.
std::vector<std::string> targets_for(const KORVEX_ADDRESSES &targets, int source_family, std::vector<int> &index) {
    std::vector<std::string> out;
    int n = std::clamp<int32_t>(targets.nAddresses, 0, KORVEX_MAX_ADDRESSES);
    for (int i = 0; i < n; ++i) {
        std::string a(targets.szAddress[i], ::strnlen(targets.szAddress[i], KORVEX_ADDRESS_CHARS));
        int family = family_of(a);
        if (family == 0 || (source_family && family != source_family)) continue;
        out.push_back(a);
        index.push_back(i);
    }
    return out;
}

}  // namespace

extern "C" {

KORVEX_API int32_t KorvexAPI_Make_Connection(TCPLIBRARY_STRUCTURE *, TCPSESSION_STRUCTURE *session, int32_t) {
    return vellor::guarded(-1, [&]() -> int32_t {
        if (!session) return -1;
        session->nSocket = 0;
        if (!network_ready()) {
            session->nLastError = kNetworkNotReady;
            return -1;
        }
        std::vector<std::string> targets;
        if (!targets_of(session, targets)) {
            session->nLastError = kHostNotFound;
            return -1;
        }
        int timeout = timeout_ms();
        for (const std::string &addr : targets) {
            int err = 0;
            uint32_t socket = connect_address(addr, static_cast<uint16_t>(session->nPort), timeout, err);
            if (socket != 0) {
                session->nSocket = socket;
                session->nLastError = 0;
                if (session->nSendBlockSize <= 0) session->nSendBlockSize = send_block_size();
                return 0;
            }
            session->nLastError = static_cast<int16_t>(err);
        }
        return -1;
    });
}

KORVEX_API int32_t KorvexAPI_Connect_Addresses(TCPLIBRARY_STRUCTURE *, TCPSESSION_STRUCTURE *session,
                                               const KORVEX_ADDRESSES *targets, int32_t staggerMs,
                                               const char *sourceAddress, int32_t *winner) {
    return vellor::guarded(-1, [&]() -> int32_t {
        if (!session || !targets) return -1;
        session->nSocket = 0;
        if (!network_ready()) {
            session->nLastError = kNetworkNotReady;
            return -1;
        }
        std::string source = sourceAddress ? std::string(sourceAddress, ::strnlen(sourceAddress, 256)) : "";
        if (int bad = source.empty() ? 0 : family_of(source) ? bind_check(source) : kInvalidArgument) {
            session->nLastError = static_cast<int16_t>(bad);
            return -2;
        }
        std::vector<int> index;
        Race race(targets_for(*targets, source.empty() ? 0 : family_of(source), index),
                  static_cast<uint16_t>(session->nPort), staggerMs, source);
        int won = -1, err = 0, timeout = timeout_ms();
        uint32_t socket = race.run(timeout, won, err);
        session->nLastError = static_cast<int16_t>(socket ? 0 : index.empty() ? kHostNotFound : err);
        if (!socket) return -1;
        finish_connect(socket, timeout);
        session->nSocket = socket;
        if (session->nSendBlockSize <= 0) session->nSendBlockSize = send_block_size();
        if (winner) *winner = index[static_cast<std::size_t>(won)];
        return 0;
    });
}

KORVEX_API int32_t KorvexAPI_Close_Socket(TCPLIBRARY_STRUCTURE *, TCPSESSION_STRUCTURE *session, int32_t) {
    return vellor::guarded(-1, [&]() -> int32_t {
        if (!session || session->nSocket == 0) return -1;
        uint32_t socket = session->nSocket;
        session->nSocket = 0;
        return close_connection(socket) ? 0 : -1;
    });
}

}  // extern "C"
