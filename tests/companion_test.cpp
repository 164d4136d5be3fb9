// The companion and name resolution against real DNS servers on loopback:
// dnsmasq for ordinary answers, a scripted responder for chosen orders,
// twenty exchangers, garbage and silence; real TCP connections.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "platform/winsock.h"
#include "resolve/resolve_recipient_mx.h"
#include "support/dns_fixture.h"
#include "support/test_env.h"
#include "vellorapi.h"

using namespace testenv;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<std::string> addresses(const VALIDMXIPS &v) {
    std::vector<std::string> out;
    for (int i = 0; i < v.nValidIPs && i < 20; ++i) out.push_back(v.szIPAddress[i]);
    return out;
}

class ScriptedResolution : public ::testing::Test {
protected:
    TempEnv env;
    ScriptedDns dns;
    DnsServerEnv point{dns.port()};
};

TEST_F(ScriptedResolution, AnswerOrderIsKeptNeverSortedByPreference) {
    dns.mx("order.test", {{"mx20.order.test", 20}, {"mx10.order.test", 10}});
    dns.a("mx20.order.test", {"127.0.0.2", "127.0.0.3", "127.0.0.4"});
    dns.a("mx10.order.test", {"127.0.0.5"});
    VALIDMXIPS v{};
    EXPECT_EQ(VELLOR_resolve_mx_domain("order.test", "", &v, 0, 1), 0);
    EXPECT_EQ(addresses(v), (std::vector<std::string>{"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"}));
    EXPECT_STREQ(v.szMxHost[2], "mx20.order.test");
    EXPECT_EQ(v.nPreference[2], 20);
    EXPECT_STREQ(v.szMxHost[3], "mx10.order.test");
    EXPECT_EQ(v.nPreference[3], 10);
    VALIDMXIPS names{};
    EXPECT_EQ(VELLOR_resolve_mx_domain("order.test", "", &names, 0, 0), 0);
    EXPECT_EQ(names.nValidIPs, 2);
    EXPECT_STREQ(names.szMxHost[0], "mx20.order.test");
    EXPECT_STREQ(names.szIPAddress[0], "");  // names only
}

TEST_F(ScriptedResolution, TwentyHostsOfTwoAddressesGiveTwentyEntries) {
    std::vector<std::pair<std::string, int>> hosts;
    for (int i = 0; i < 20; ++i) {
        std::string h = "mx" + std::to_string(i) + ".many.test";
        hosts.push_back({h, i});
        dns.a(h, {"127.0.1." + std::to_string(i), "127.0.2." + std::to_string(i)});
    }
    dns.mx("many.test", hosts);
    VALIDMXIPS v{};
    EXPECT_EQ(VELLOR_resolve_mx_domain("many.test", "", &v, 0, 1), 0);
    EXPECT_EQ(v.nValidIPs, 20);
    EXPECT_STREQ(v.szIPAddress[19], "127.0.2.9");
    MXQUERY_STRUCTURE mx{};
    EXPECT_EQ(VELLOR_Get_Mx_Servers("many.test", &mx, "", 1), 1);
    EXPECT_EQ(mx.nMxServers, 20);
    int before = dns.queries("mx10.many.test");
    VALIDMXIPS w{};
    VELLOR_Resolve_MX_Hostnames_To_Ipaddresses(&mx, &w);
    EXPECT_EQ(w.nValidIPs, 20);
    EXPECT_EQ(dns.queries("mx10.many.test"), before);  // a full list stops the lookups
}

TEST_F(ScriptedResolution, AHostWhoseLookupFails) {
    dns.mx("fail.test", {{"good.fail.test", 10}, {"gone.fail.test", 20}, {"also.fail.test", 30}});
    dns.a("good.fail.test", {"127.0.0.7"});
    dns.a("also.fail.test", {"127.0.0.8"});
    VALIDMXIPS v{};
    EXPECT_EQ(VELLOR_resolve_mx_domain("fail.test", "", &v, 0, 1), 0);
    // The failed host takes one entry holding what the first slot held: stale.
    EXPECT_EQ(addresses(v), (std::vector<std::string>{"127.0.0.7", "127.0.0.7", "127.0.0.8"}));
    MXQUERY_STRUCTURE mx{};
    VELLOR_Get_Mx_Servers("fail.test", &mx, "", 1);
    VALIDMXIPS w{};
    VELLOR_Resolve_MX_Hostnames_To_Ipaddresses(&mx, &w);
    EXPECT_EQ(addresses(w), (std::vector<std::string>{"127.0.0.7", "127.0.0.8"}));
    VELLOR_Resolve_MX_Hostnames_To_Ipaddresses(&mx, &w);
    EXPECT_EQ(w.nValidIPs, 4);  // twice doubles the count, entries rewritten from 0
    // The send path: a first host that fails leaves the first slot empty.
    dns.mx("first.test", {{"gone.first.test", 10}, {"good.fail.test", 20}});
    SMTPSEND_STRUCTURE req{};
    std::strcpy(req.szServer, "first.test");
    req.nMxIPAddresses = 5;
    MXQUERY_STRUCTURE m2{};
    VALIDMXIPS v2{};
    char server[24] = "";
    vellor::resolve_recipient_mx(&req, &m2, &v2, server);
    EXPECT_EQ(v2.nValidIPs, 2);
    EXPECT_EQ(req.nMxIPAddresses, 0);
}

TEST_F(ScriptedResolution, DomainsThatAreNoNames) {
    VALIDMXIPS v{};
    EXPECT_EQ(VELLOR_resolve_mx_domain("", "", &v, 0, 1), -5);
    for (const char *d : {"127.0.0.1", "...", "12345"}) EXPECT_EQ(VELLOR_resolve_mx_domain(d, "", &v, 0, 1), -6);
    EXPECT_EQ(dns.queries("127.0.0.1"), 0);
    EXPECT_EQ(dns.queries("12345"), 0);
}

TEST_F(ScriptedResolution, LongMxHostNameIsShortened) {
    std::string label(60, 'h');
    std::string host = label + "." + label + "." + label + ".long.test";  // 193 characters
    dns.mx("long.test", {{host, 5}});
    dns.a(host, {"127.0.0.9"});
    VALIDMXIPS v{};
    EXPECT_EQ(VELLOR_resolve_mx_domain("long.test", "", &v, 0, 1), 0);
    EXPECT_EQ(v.nValidIPs, 1);
    EXPECT_EQ(std::strlen(v.szMxHost[0]), 127u);
    EXPECT_STREQ(v.szIPAddress[0], "127.0.0.9");
}

TEST_F(ScriptedResolution, GarbageAndSilence) {
    dns.mode(ScriptedDns::Mode::Garbage);
    MXQUERY_STRUCTURE mx{};
    EXPECT_EQ(VELLOR_Get_Mx_Servers("any.test", &mx, "", 1), -4);
    EXPECT_NE(mx.nType, 15);
    ::setenv("KORVEXAPI_TIMEOUT_MS", "600", 1);
    dns.mode(ScriptedDns::Mode::Silent);
    auto start = Clock::now();
    EXPECT_EQ(VELLOR_Get_Mx_Servers("any.test", &mx, "", 1), -3);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    SMTPSEND_STRUCTURE req{};
    std::strcpy(req.szServer, "silent.test");
    EXPECT_EQ(VELLOR_Perform_DNS_Lookup("App", &req), -1);
    EXPECT_EQ(req.nErrorCode, 915);
    ::unsetenv("KORVEXAPI_TIMEOUT_MS");
}

TEST_F(ScriptedResolution, BadNames) {
    VALIDMXIPS v{};
    std::string long_name(300, 'a');
    for (const std::string &d : {long_name, std::string("sp ace.test"), std::string("ctl\x01\x7f.test")}) {
        int rc = VELLOR_resolve_mx_domain(d.c_str(), "", &v, 0, 1);
        EXPECT_TRUE(rc < 0) << d << " " << rc;
    }
    SMTPSEND_STRUCTURE req{};
    std::memset(req.szServer, 'a', sizeof req.szServer);  // no NUL in the field
    EXPECT_EQ(VELLOR_Perform_DNS_Lookup("App", &req), -1);
}

// ---- dnsmasq -------------------------------------------------------------------

class DnsmasqResolution : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dns.ready()) << "dnsmasq did not start"; }
    TempEnv env;
    Dnsmasq dns{
        env.dir(),
        {"local=/test/", "mx-host=three.test,mxa.three.test,10", "mx-host=three.test,mxb.three.test,20",
         "mx-host=three.test,mxc.three.test,30", "host-record=mxa.three.test,127.0.0.2",
         "host-record=mxb.three.test,127.0.0.3", "host-record=mxc.three.test,127.0.0.4",
         "host-record=multi.test,127.0.0.5", "host-record=multi.test,127.0.0.6", "host-record=multi.test,127.0.0.7",
         "host-record=nomx.test,127.0.0.8", "ptr-record=9.0.0.127.in-addr.arpa,back.test"}};
    DnsServerEnv point{dns.port()};
};

TEST_F(DnsmasqResolution, ThreeExchangers) {
    VALIDMXIPS v{};
    EXPECT_EQ(VELLOR_resolve_mx_domain("three.test", "", &v, 0, 1), 0);
    ASSERT_EQ(v.nValidIPs, 3);
    std::vector<std::string> hosts{v.szMxHost[0], v.szMxHost[1], v.szMxHost[2]};
    std::sort(hosts.begin(), hosts.end());
    EXPECT_EQ(hosts, (std::vector<std::string>{"mxa.three.test", "mxb.three.test", "mxc.three.test"}));
    char server[24] = "";
    std::string dns_text = "127.0.0.1:" + std::to_string(dns.port());
    VALIDMXIPS w{};
    EXPECT_EQ(VELLOR_resolve_mx_domain("three.test", dns_text.c_str(), &w, 0, 1), 0);  // the server named
    EXPECT_EQ(w.nValidIPs, 3);
    EXPECT_EQ(VELLOR_Get_Default_Dns_Server(server), 0);
    EXPECT_EQ(std::string(server), dns_text);
}

TEST_F(DnsmasqResolution, DomainWithoutMx) {
    VALIDMXIPS v{};
    EXPECT_EQ(VELLOR_resolve_mx_domain("nomx.test", "", &v, 0, 1), -5);
    MXQUERY_STRUCTURE mx{};
    EXPECT_EQ(VELLOR_Get_Mx_Servers("nomx.test", &mx, "", 1), -9);
    EXPECT_EQ(VELLOR_Get_Mx_Servers("nothing.test", &mx, "", 1), -2);
}

TEST_F(DnsmasqResolution, ForwardAndReverseLookups) {
    SMTPSEND_STRUCTURE req{};
    std::strcpy(req.szServer, "multi.test");
    std::strcpy(req.szMxIPAddress[3], "keep");
    EXPECT_EQ(VELLOR_Perform_DNS_Lookup("App", &req), 0);
    EXPECT_EQ(req.nMxIPAddresses, 3);
    std::vector<std::string> got{req.szMxIPAddress[0], req.szMxIPAddress[1], req.szMxIPAddress[2]};
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<std::string>{"127.0.0.5", "127.0.0.6", "127.0.0.7"}));
    EXPECT_STREQ(req.szServerIP, req.szMxIPAddress[0]);
    EXPECT_STREQ(req.szMxIPAddress[3], "keep");
    auto log = env.log_texts();
    EXPECT_EQ(log.at(2), "VellorAPI [App] - Calling gethostbyname() for [multi.test].");
    SMTPSEND_STRUCTURE rev{};
    std::strcpy(rev.szServerIP, "127.0.0.9");
    std::strcpy(rev.szMxIPAddress[0], "same");
    EXPECT_EQ(VELLOR_Perform_DNS_Lookup("App", &rev), 0);
    EXPECT_STREQ(rev.szServer, "back.test");
    EXPECT_STREQ(rev.szServerIP, "127.0.0.9");
    EXPECT_STREQ(rev.szMxIPAddress[0], "same");
    EXPECT_EQ(rev.nMxIPAddresses, 0);
}

TEST_F(DnsmasqResolution, LookupFailures) {
    SMTPSEND_STRUCTURE req{};
    EXPECT_EQ(VELLOR_Perform_DNS_Lookup("App", &req), -1);
    EXPECT_EQ(req.nErrorCode, 905);
    EXPECT_EQ(env.log_texts(), (std::vector<std::string>{"VellorAPI [App] - No Server name or IP address received."}));
    env.clear_log();
    std::strcpy(req.szServer, "missing.test");
    EXPECT_EQ(VELLOR_Perform_DNS_Lookup("App", &req), -1);
    EXPECT_EQ(req.nErrorCode, 915);
    auto log = env.log_texts();
    EXPECT_EQ(std::vector<std::string>(log.end() - 2, log.end()),
              (std::vector<std::string>{"VellorAPI [App] - Winsock for DNS lookup closed successfully.",
                                        "VellorAPI [App] - Winsock library for DNS lookup closed successfully."}));
    env.clear_log();
    SMTPSEND_STRUCTURE rev{};
    std::strcpy(rev.szServerIP, "127.0.0.99");
    EXPECT_EQ(VELLOR_Perform_DNS_Lookup("App", &rev), -1);
    log = env.log_texts();
    EXPECT_EQ(std::vector<std::string>(log.end() - 2, log.end()),
              (std::vector<std::string>{
                  "VellorAPI [App] - Winsock Session for DNS lookup - WSACleanup() - terminated successfully.",
                  "VellorAPI [App] - Winsock Library for DNS lookup closed successfully."}));
}

// ---- connections ---------------------------------------------------------------

struct Listener {
    int fd, port;
    Listener() {
        fd = bind_loopback(SOCK_STREAM, "127.0.0.1", 0, port);
        ::listen(fd, 4);
    }
    ~Listener() { ::close(fd); }
};

TEST(Connections, ToAListeningPortAndToAClosedOne) {
    TempEnv env;
    TCPLIBRARY_STRUCTURE block{};
    TCPSESSION_STRUCTURE s{};
    KorvexAPI_Initialize_Library(&block, 0, 1, "T");
    KorvexAPI_Initialize_Structure(&block, &s);
    EXPECT_EQ(s.nSendBlockSize, 65536);
    Listener l;
    std::strcpy(s.szHostAddress, "127.0.0.1");
    s.nPort = static_cast<uint32_t>(l.port);
    ASSERT_EQ(KorvexAPI_Make_Connection(&block, &s, 0), 0);
    EXPECT_GT(s.nSocket, 0u);
    int peer = ::accept(l.fd, nullptr, nullptr);
    EXPECT_EQ(vellor::winsock::send(s.nSocket, "ping", 4, 0), 4);
    char buf[8] = {0};
    EXPECT_EQ(::recv(peer, buf, sizeof buf, 0), 4);
    ::send(peer, "pong", 4, 0);
    EXPECT_EQ(vellor::winsock::recv(s.nSocket, buf, sizeof buf, 0), 4);
    ::close(peer);
    EXPECT_EQ(KorvexAPI_Close_Socket(&block, &s, 1), 0);
    EXPECT_EQ(s.nSocket, 0u);
    s.nPort = static_cast<uint32_t>(free_port());
    EXPECT_EQ(KorvexAPI_Make_Connection(&block, &s, 0), -1);
    EXPECT_EQ(s.nLastError, 10061);
}

TEST(Connections, SilentServerSpendsTheSocket) {
    TempEnv env;
    ::setenv("KORVEXAPI_TIMEOUT_MS", "300", 1);
    TCPLIBRARY_STRUCTURE block{};
    TCPSESSION_STRUCTURE s{};
    KorvexAPI_Initialize_Structure(&block, &s);
    Listener l;
    std::strcpy(s.szHostAddress, "127.0.0.1");
    s.nPort = static_cast<uint32_t>(l.port);
    ASSERT_EQ(KorvexAPI_Make_Connection(&block, &s, 0), 0);
    char buf[16];
    auto start = Clock::now();
    EXPECT_EQ(vellor::winsock::recv(s.nSocket, buf, sizeof buf, 0), -1);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(250));
    EXPECT_EQ(vellor::winsock::WSAGetLastError(), 10060);
    start = Clock::now();
    EXPECT_EQ(vellor::winsock::recv(s.nSocket, buf, sizeof buf, 0), -1);  // spent: fails at once
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100));
    KorvexAPI_Close_Socket(&block, &s, 1);
    ::unsetenv("KORVEXAPI_TIMEOUT_MS");
}

TEST(Connections, SendBlockSizeFromTheEnvironment) {
    ::setenv("KORVEXAPI_SEND_BLOCK_SIZE", "1000", 1);
    TCPSESSION_STRUCTURE s{};
    KorvexAPI_Initialize_Structure(nullptr, &s);
    EXPECT_EQ(s.nSendBlockSize, 1000);
    ::setenv("KORVEXAPI_SEND_BLOCK_SIZE", "-4", 1);
    KorvexAPI_Initialize_Structure(nullptr, &s);
    EXPECT_EQ(s.nSendBlockSize, 65536);
    ::unsetenv("KORVEXAPI_SEND_BLOCK_SIZE");
}

}  // namespace

namespace {

TEST(Companion, StartAndStopAreCounted) {
    TCPLIBRARY_STRUCTURE block{};
    EXPECT_EQ(KorvexAPI_Start_Winsock(&block, 2), -1);  // a block never initialised
    KorvexAPI_Initialize_Library(&block, 0, 1, "T");
    EXPECT_EQ(KorvexAPI_Stop_Winsock(&block), -1);  // nothing started yet
    EXPECT_EQ(KorvexAPI_Start_Winsock(&block, 2), 0);
    EXPECT_EQ(KorvexAPI_Start_Winsock(&block, 2), 0);
    EXPECT_EQ(KorvexAPI_Stop_Winsock(&block), 0);
    EXPECT_EQ(KorvexAPI_Stop_Winsock(&block), 0);
    EXPECT_EQ(KorvexAPI_Stop_Winsock(&block), -1);  // more stops than starts
}

}  // namespace

namespace {

TEST_F(ScriptedResolution, TheHostsFileComesBeforeDns) {
    // The scripted server knows no "localhost"; the hosts file does.
    TCPLIBRARY_STRUCTURE block{};
    TCPSESSION_STRUCTURE session{};
    char address[16] = {0};
    EXPECT_EQ(KorvexAPI_Get_IPAddress_From_Hostname(&block, &session, "localhost", address), 0);
    EXPECT_STREQ(address, "127.0.0.1");
    EXPECT_EQ(dns.queries("localhost"), 0);
}

}  // namespace

// The Windows companion's own DNS reading, fed plain bytes.
#include "korvex/dns_message.h"

namespace {

TEST(DnsQuery, RefusesNamesThatCannotBeWritten) {
    EXPECT_EQ(korvex::dns::query(1, "", 15), "");
    EXPECT_EQ(korvex::dns::query(1, std::string(64, 'a') + ".test", 15), "");
    EXPECT_EQ(korvex::dns::query(1, "a..test", 15), "");
    EXPECT_EQ(korvex::dns::query(1, "mx.test.", 15), korvex::dns::query(1, "mx.test", 15));
}

}  // namespace
