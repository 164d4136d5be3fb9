// DNS for the tests: dnsmasq on 127.0.0.1 with a configuration the test
// writes, and a scripted DNS responder for answers dnsmasq cannot give (a
// chosen order, twenty exchangers, garbage, silence). Both point the
// companion at themselves through KORVEXAPI_DNS_SERVERS.
#pragma once
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "test_env.h"

namespace testenv {

class Dnsmasq {
public:
    // lines: dnsmasq options without the leading "--"; queries are logged.
    Dnsmasq(const std::string &dir, const std::vector<std::string> &lines);
    ~Dnsmasq();
    int port() const { return port_; }
    bool ready() const { return ready_; }
    int queries_for(const std::string &name) const;  // from the query log

private:
    int port_ = 0;
    bool ready_ = false;
    std::string log_;
    Process proc_;
};

// Names whose first label begins with "silent" are never answered.
class ScriptedDns {
public:
    enum class Mode { Answer, Silent, Garbage };
    ScriptedDns();
    ~ScriptedDns();
    int port() const { return port_; }
    void mx(const std::string &domain, const std::vector<std::pair<std::string, int>> &hosts);
    void a(const std::string &host, const std::vector<std::string> &addresses);
    void mode(Mode m) { mode_ = m; }
    int queries(const std::string &name);

private:
    void run();
    std::string answer(const std::string &query);

    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<Mode> mode_{Mode::Answer};
    std::mutex mu_;
    std::map<std::string, std::vector<std::pair<std::string, int>>> mx_;
    std::map<std::string, std::vector<std::string>> a_;
    std::map<std::string, int> queries_;
    std::thread thread_;
};

// Sets KORVEXAPI_DNS_SERVERS for its lifetime.
class DnsServerEnv {
public:
    explicit DnsServerEnv(int port);
    ~DnsServerEnv();
};

}  // namespace testenv
