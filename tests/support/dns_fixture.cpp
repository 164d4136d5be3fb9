// The scripted DNS responder.
#include "dns_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace testenv {

namespace {

std::string lower(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A name as DNS writes it: each label after its length, then a zero.
std::string encode_name(const std::string &name) {
    std::string out;
    for (std::size_t pos = 0; pos < name.size();) {
        std::size_t dot = std::min(name.find('.', pos), name.size());
        if (dot > pos) out += static_cast<char>(dot - pos) + name.substr(pos, dot - pos);
        pos = dot + 1;
    }
    return out + '\0';
}

void put16(std::string &s, int v) {
    s += static_cast<char>((v >> 8) & 255);
    s += static_cast<char>(v & 255);
}

}  // namespace

ScriptedDns::ScriptedDns() {
    fd_ = bind_loopback(SOCK_DGRAM, "127.0.0.1", 0, port_);
    thread_ = std::thread([this] { run(); });
}

ScriptedDns::~ScriptedDns() {
    stop_ = true;
    thread_.join();
    ::close(fd_);
}

void ScriptedDns::mx(const std::string &domain, const std::vector<std::pair<std::string, int>> &hosts) {
    std::lock_guard<std::mutex> g(mu_);
    mx_[lower(domain)] = hosts;
}

void ScriptedDns::a(const std::string &host, const std::vector<std::string> &addresses) {
    std::lock_guard<std::mutex> g(mu_);
    a_[lower(host)] = addresses;
}

void ScriptedDns::ptr(const std::string &name, const std::string &host) {
    std::lock_guard<std::mutex> g(mu_);
    ptr_[lower(name)] = host;
}

int ScriptedDns::queries(const std::string &name) {
    std::lock_guard<std::mutex> g(mu_);
    return queries_[lower(name)];
}

std::string ScriptedDns::answer(const std::string &q) {
    if (q.size() < 17) return {};
    // Question name.
    std::string name;
    std::size_t pos = 12;
    while (pos < q.size() && q[pos] != 0) {
        int len = static_cast<unsigned char>(q[pos]);
        if (!name.empty()) name += '.';
        name += q.substr(pos + 1, static_cast<std::size_t>(len));
        pos += static_cast<std::size_t>(len) + 1;
    }
    if (pos + 5 > q.size()) return {};
    int type = (static_cast<unsigned char>(q[pos + 1]) << 8) | static_cast<unsigned char>(q[pos + 2]);
    std::string question = q.substr(12, pos + 5 - 12);
    std::lock_guard<std::mutex> g(mu_);
    queries_[lower(name)]++;
    if (mode_ == Mode::Garbage)  // a header and question that match, then answers that do not parse
        return q.substr(0, 2) + std::string("\x81\x80\x00\x01\x00\x05\x00\x00\x00\x00", 10) + question +
               std::string("\xc0\x0c\x00\x0f\x00\x01\x00\x00\x00\x3c\x00\xff\x13\x37garbage", 21);
    std::string records;
    int count = 0;
    auto record = [&](int rtype, const std::string &rdata) {  // class IN, TTL 60, the question's name
        records += std::string("\xc0\x0c", 2);
        put16(records, rtype);
        records += std::string("\x00\x01\x00\x00\x00\x3c", 6);
        put16(records, static_cast<int>(rdata.size()));
        records += rdata;
        ++count;
    };
    std::string key = lower(name);
    static const std::vector<std::pair<std::string, int>> kNoHosts;
    static const std::vector<std::string> kNoAddresses;
    auto mx = mx_.find(key);
    auto a = a_.find(key);
    bool known = mx != mx_.end() || a != a_.end() || ptr_.count(key);
    for (const auto &[host, pref] : type == 15 && mx != mx_.end() ? mx->second : kNoHosts) {
        std::string rdata, suffix = "." + key;
        put16(rdata, pref);
        if (host.size() > suffix.size() && lower(host).ends_with(suffix)) {  // compressed: a pointer to the question
            std::string prefix = encode_name(host.substr(0, host.size() - suffix.size()));
            rdata += prefix.substr(0, prefix.size() - 1) + std::string("\xc0\x0c", 2);
        } else {
            rdata += encode_name(host);
        }
        record(15, rdata);
    }
    for (const auto &addr : type == 1 && a != a_.end() ? a->second : kNoAddresses) {
        in_addr ia{};
        ::inet_pton(AF_INET, addr.c_str(), &ia);
        record(1, std::string(reinterpret_cast<const char *>(&ia), 4));
    }
    if (type == 12 && ptr_.count(key)) record(12, encode_name(ptr_[key]));
    std::string r = q.substr(0, 2) + (known ? "\x81\x80" : "\x81\x83");  // NXDOMAIN when unknown
    put16(r, 1);
    put16(r, count);
    return r + std::string(4, '\0') + question + records;
}

void ScriptedDns::run() {
    while (!stop_) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 50) != 1) continue;
        char buf[1500];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from), &len);
        if (n <= 0) continue;
        std::string r = answer(std::string(buf, static_cast<std::size_t>(n)));
        if (mode_ == Mode::Silent || (mode_ == Mode::Answer && r.size() > 13 && r.compare(13, 6, "silent") == 0))
            continue;  // never answered
        ::sendto(fd_, r.data(), r.size(), 0, reinterpret_cast<sockaddr *>(&from), len);
    }
}

DnsServerEnv::DnsServerEnv(int port) {
    ::setenv("KORVEXAPI_DNS_SERVERS", ("127.0.0.1:" + std::to_string(port)).c_str(), 1);
}
DnsServerEnv::~DnsServerEnv() { ::unsetenv("KORVEXAPI_DNS_SERVERS"); }

}  // namespace testenv
