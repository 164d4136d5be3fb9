// The scripted DNS responder: each name's records are kept by type as the
// wire carries them, so an answer is the question's header, the question
// and those records.
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

std::string u16(std::size_t v) { return {static_cast<char>((v >> 8) & 255), static_cast<char>(v & 255)}; }

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

void ScriptedDns::set(const std::string &name, int type, std::vector<std::string> rdata) {
    std::lock_guard<std::mutex> g(mu_);
    records_[lower(name)][type] = std::move(rdata);
}

// An exchanger within the domain is written compressed: its own labels,
// then a pointer to the question's name.
void ScriptedDns::mx(const std::string &domain, const std::vector<std::pair<std::string, int>> &hosts) {
    std::vector<std::string> rdata;
    std::string suffix = "." + lower(domain);
    for (const auto &[host, pref] : hosts) {
        std::string name = encode_name(host);
        if (host.size() > suffix.size() && lower(host).ends_with(suffix)) {
            name = encode_name(host.substr(0, host.size() - suffix.size()));
            name.back() = '\xc0';
            name += '\x0c';
        }
        rdata.push_back(u16(static_cast<std::size_t>(pref)) + name);
    }
    set(domain, 15, rdata);
}

// IPv4 addresses are A records, IPv6 ones (holding ':') AAAA records.
void ScriptedDns::a(const std::string &host, const std::vector<std::string> &addresses) {
    std::map<int, std::vector<std::string>> rdata;
    for (const auto &addr : addresses) {
        bool v6 = addr.find(':') != std::string::npos;
        unsigned char bytes[16] = {};
        ::inet_pton(v6 ? AF_INET6 : AF_INET, addr.c_str(), bytes);
        rdata[v6 ? 28 : 1].emplace_back(reinterpret_cast<const char *>(bytes), v6 ? 16 : 4);
    }
    for (auto &[type, records] : rdata) set(host, type, std::move(records));
}

void ScriptedDns::add(const std::string &name, int type, std::string rdata) {
    std::lock_guard<std::mutex> g(mu_);
    records_[lower(name)][type].push_back(std::move(rdata));
}

void ScriptedDns::set_flag(std::set<std::string> &names, const std::string &name) {
    std::lock_guard<std::mutex> g(mu_);
    names.insert(lower(name));
}

void ScriptedDns::tlsa(const std::string &name, int usage, int selector, int matching, const std::string &data) {
    add(name, 52,
        std::string{static_cast<char>(usage), static_cast<char>(selector), static_cast<char>(matching)} + data);
}

void ScriptedDns::txt(const std::string &name, const std::string &text) {
    std::string rdata;
    for (std::size_t at = 0; at < text.size(); at += 255)
        rdata += static_cast<char>(std::min<std::size_t>(255, text.size() - at)) + text.substr(at, 255);
    add(name, 16, rdata);
}

void ScriptedDns::drop(const std::string &name) {
    std::lock_guard<std::mutex> g(mu_);
    records_.erase(lower(name));
}

int ScriptedDns::queries(const std::string &name) {
    std::lock_guard<std::mutex> g(mu_);
    return queries_[lower(name)];
}

std::string ScriptedDns::answer(const std::string &q) {
    std::string name;  // the question's name, then its type
    std::size_t pos = 12;
    for (; pos < q.size() && q[pos] != 0; pos += static_cast<unsigned char>(q[pos]) + 1u)
        name += (name.empty() ? "" : ".") + q.substr(pos + 1, static_cast<unsigned char>(q[pos]));
    if (pos + 5 > q.size()) return {};
    int type = static_cast<unsigned char>(q[pos + 1]) << 8 | static_cast<unsigned char>(q[pos + 2]);
    std::string id = q.substr(0, 2), question = q.substr(12, pos + 5 - 12);
    std::lock_guard<std::mutex> g(mu_);
    queries_[lower(name)]++;
    if (silent_.count(lower(name)) || silent_.count(lower(name) + "#" + std::to_string(type))) return {};
    if (mode_ == Mode::Garbage)  // a header and question that match, then answers that do not parse
        return id + std::string("\x81\x80\x00\x01\x00\x05\x00\x00\x00\x00", 10) + question +
               std::string("\xc0\x0c\x00\x0f\x00\x01\x00\x00\x00\x3c\x00\xff\x13\x37garbage", 21);
    auto known = records_.find(lower(name));
    std::vector<std::string> none, &rdata = known == records_.end() ? none : known->second[type];
    std::string r = id + (known != records_.end() ? "\x81\x80" : "\x81\x83");  // NXDOMAIN when unknown
    if (ad_.count("all") || ad_.count(lower(name))) r[3] = static_cast<char>(r[3] | 0x20);
    if (servfail_.count(lower(name))) return id + std::string("\x81\x82", 2) + u16(1) + std::string(6, '\0') + question;
    r += u16(1) + u16(rdata.size()) + std::string(4, '\0') + question;
    for (const std::string &d : rdata)  // each for the question's name, class IN, TTL 60
        r += "\xc0\x0c" + u16(static_cast<std::size_t>(type)) + std::string("\x00\x01\x00\x00\x00\x3c", 6) +
             u16(d.size()) + d;
    return r;
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
        if (r.empty() || mode_ == Mode::Silent ||
            (mode_ == Mode::Answer && r.size() > 13 && r.compare(13, 6, "silent") == 0))
            continue;  // never answered
        ::sendto(fd_, r.data(), r.size(), 0, reinterpret_cast<sockaddr *>(&from), len);
    }
}

DnsServerEnv::DnsServerEnv(int port) {
    ::setenv("KORVEXAPI_DNS_SERVERS", ("127.0.0.1:" + std::to_string(port)).c_str(), 1);
}
DnsServerEnv::~DnsServerEnv() { ::unsetenv("KORVEXAPI_DNS_SERVERS"); }

}  // namespace testenv
