// DNS for the tests: a scripted responder on 127.0.0.1 (chosen answers in a
// chosen order, twenty exchangers, TLSA and TXT records, the AD bit on
// chosen names, SERVFAIL, garbage, silence) that
// points the companion at itself through KORVEXAPI_DNS_SERVERS. dnsmasq
// serves the end-to-end and tool tests only.
#pragma once
#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "test_env.h"

namespace testenv {

// Names whose first label begins with "silent" are never answered.
class ScriptedDns {
public:
    enum class Mode { Answer, Silent, Garbage };
    ScriptedDns();
    ~ScriptedDns();
    int port() const { return port_; }
    void mx(const std::string &domain, const std::vector<std::pair<std::string, int>> &hosts);
    void a(const std::string &host, const std::vector<std::string> &addresses);                          // A and AAAA
    void tlsa(const std::string &name, int usage, int selector, int matching, const std::string &data);  // one more
    void txt(const std::string &name, const std::string &text);       // one more record
    void authentic(const std::string &name) { set_flag(ad_, name); }  // answered with AD; "all": every name
    void servfail(const std::string &name) { set_flag(servfail_, name); }
    // Its questions (of that type only, when given) never answered.
    void silent(const std::string &name, int type = 0) {
        set_flag(silent_, type ? name + "#" + std::to_string(type) : name);
    }
    void drop(const std::string &name);  // the name's records gone
    void mode(Mode m) { mode_ = m; }
    int queries(const std::string &name);

private:
    void run();
    void set(const std::string &name, int type, std::vector<std::string> rdata);
    void add(const std::string &name, int type, std::string rdata);
    void set_flag(std::set<std::string> &names, const std::string &name);
    std::string answer(const std::string &query);

    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<Mode> mode_{Mode::Answer};
    std::mutex mu_;
    std::map<std::string, std::map<int, std::vector<std::string>>> records_;  // by name, then type: the rdata
    std::map<std::string, int> queries_;
    std::set<std::string> ad_, servfail_, silent_;
    std::thread thread_;
};

// Sets KORVEXAPI_DNS_SERVERS for its lifetime.
class DnsServerEnv {
public:
    explicit DnsServerEnv(int port);
    ~DnsServerEnv();
};

}  // namespace testenv
