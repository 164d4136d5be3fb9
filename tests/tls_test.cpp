// Secure connections against two independent real TLS servers on loopback
// (aiosmtpd and the Node smtp-server package) with certificates the fixture
// makes: STARTTLS and TLS from the first byte with a login, byte-exact
// delivery, one TLS session for a whole batch, and every bad certificate or
// missing STARTTLS refused before a login or an envelope reaches the server.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "support/dns_fixture.h"
#include "support/script_peer.h"
#include "support/test_env.h"
#include "support/tls_server.h"
#include "vellorapi.h"

using namespace testenv;

namespace {

using Kind = TlsServer::Kind;

class Tls : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("KORVEXAPI_TIMEOUT_MS", "3000", 1);
        certs = make_certificates(env.dir());
        ASSERT_FALSE(certs.empty());
        SMTPINIT_STRUCTURE lib{};
        VELLOR_Initialize_Library(&lib, 0, "App");
        VELLOR_Initialize_Structure(&lib, &req);
        std::strcpy(req.szSender, "sender@origin.test");
        std::strcpy(req.szRecipient, "rcpt@dest.test");
        req.bSingleRecipient = 1;
        std::strcpy(req.szServer, "localhost");
        std::strcpy(req.szServerIP, "127.0.0.1");
        std::strcpy(req.szAuthUser, "alice");
        std::strcpy(req.szAuthPassword, "secret");
        req.nPort = port;
        write_file(env.path("m.txt"), kBody);
        std::strcpy(req.szMessageFile, env.path("m.txt").c_str());
        req.bDeleteMessage = 1;
    }
    void TearDown() override { ::unsetenv("KORVEXAPI_TIMEOUT_MS"); }
    void options(int mode, const std::string &extra = "") {
        env.registry("\"SecureConnection\"=dword:0000000" + std::to_string(mode) + "\r\n\"TLSCAFile\"=\"" + certs +
                     "/ca.pem\"\r\n" + extra);
    }
    int send() { return VELLOR_Send_Message("App", &req, record_status); }
    bool reported(const std::string &part, int code) const {
        return std::any_of(reports().begin(), reports().end(), [&](const Report &r) {
            return r.status == 920 && r.code == code && r.text.find(part) != std::string::npos;
        });
    }

    static constexpr const char *kBody = "Subject: secure\r\n\r\nline one\r\nline two\r\nlast line\r\n";
    TempEnv env;
    std::string certs;
    int port = free_port("127.0.0.1");
    SMTPSEND_STRUCTURE req{};
};

struct Delivered {
    const char *name;
    Kind kind;
    const char *mode;  // the server's
    int secure;        // SecureConnection
};

TEST_F(Tls, LoginAndMessageOverBothModesAndBothServers) {
    const Delivered rows[] = {
        {"aiosmtpd, STARTTLS", Kind::Aiosmtpd, "starttls", 1},
        {"aiosmtpd, TLS from the start", Kind::Aiosmtpd, "implicit", 2},
        {"smtp-server, STARTTLS", Kind::Node, "starttls", 1},
        {"smtp-server, TLS from the start", Kind::Node, "implicit", 2},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        write_file(env.path("m.txt"), kBody);
        std::strcpy(req.szAuthUser, "alice");  // a send leaves the encoded login in the record
        std::strcpy(req.szAuthPassword, "secret");
        options(row.secure, "\"SendPercentSent\"=dword:00000001\r\n");
        TlsServer server(env.dir(), row.kind, row.mode, certs, "server", port, "alice", "secret");
        ASSERT_TRUE(server.ready());
        reports().clear();
        EXPECT_EQ(send(), 0);
        ASSERT_EQ(server.messages().size(), 1u);
        EXPECT_EQ(server.messages()[0].substr(0, std::strlen(kBody)), kBody);
        EXPECT_FALSE(file_exists(env.path("m.txt")));
        EXPECT_TRUE(std::any_of(reports().begin(), reports().end(), [](const Report &r) { return r.status == 926; }));
        EXPECT_EQ(server.count("AUTH"), 1);
    }
}

TEST_F(Tls, ABatchKeepsOneTlsSession) {
    options(1, "\"MsgExtension\"=\"txt\"\r\n");  // a counted queue of two or more goes as one batch
    TlsServer server(env.dir(), Kind::Aiosmtpd, "starttls", certs, "server", port, "alice", "secret");
    ASSERT_TRUE(server.ready());
    std::string dir = env.path("q");
    ::mkdir(dir.c_str(), 0755);
    for (int i = 0; i < 3; ++i)
        write_file(dir + "/m" + std::to_string(i) + ".txt", "Subject: " + std::to_string(i) + "\r\n\r\nx\r\n");
    std::strcpy(req.szMessageFile, dir.c_str());
    EXPECT_EQ(send(), 0);
    EXPECT_EQ(req.nMessagesSent, 3);
    EXPECT_EQ(server.messages().size(), 3u);
    EXPECT_EQ(server.count("STARTTLS"), 1);
    EXPECT_EQ(server.count("MAIL"), 3);
}

struct Refused {
    const char *name;
    const char *mode;  // the server's
    const char *cert;
    int secure;
    const char *report;
};

TEST_F(Tls, RefusedBeforeAnyLoginOrEnvelope) {
    const Refused rows[] = {
        {"certificate for another name", "starttls", "wrong", 1, "certificate not accepted"},
        {"expired certificate", "starttls", "expired", 1, "certificate has expired"},
        {"self-signed certificate", "implicit", "self", 2, "certificate not accepted"},
        {"no STARTTLS offered", "nostarttls", "server", 1, "does not offer STARTTLS"},
        {"STARTTLS answered 454", "refuse", "server", 1, "Server refused STARTTLS [454"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        options(row.secure);
        TlsServer server(env.dir(), Kind::Aiosmtpd, row.mode, certs, row.cert, port, "alice", "secret");
        ASSERT_TRUE(server.ready());
        reports().clear();
        EXPECT_EQ(send(), -1);
        EXPECT_EQ(req.nErrorCode, 907);
        EXPECT_TRUE(reported(row.report, 907));
        EXPECT_EQ(server.count("AUTH"), 0);
        EXPECT_EQ(server.count("MAIL"), 0);
        EXPECT_TRUE(file_exists(env.path("m.txt")));
    }
}

TEST_F(Tls, MxExchangerWithoutStarttlsCountsAsFailedAndTheNextIsTried) {
    ScriptedDns dns;
    DnsServerEnv point(dns.port());
    dns.mx("dest.test", {{"plain.dest.test", 10}, {"secure.dest.test", 20}});
    dns.a("plain.dest.test", {"127.0.0.2"});
    dns.a("secure.dest.test", {"127.0.0.1"});
    options(1, "\"TLSVerifyPeer\"=dword:00000000\r\n");  // the certificate names localhost, not the domain
    ScriptPeer plain(Script::replies("220 plain\r\n", {"250 no extensions here\r\n"}), "127.0.0.2", port);
    TlsServer secure(env.dir(), Kind::Aiosmtpd, "starttls", certs, "server", port, "", "");
    ASSERT_TRUE(secure.ready());
    req.szServer[0] = req.szServerIP[0] = req.szAuthUser[0] = req.szAuthPassword[0] = 0;
    EXPECT_EQ(send(), 0);
    EXPECT_EQ(secure.messages().size(), 1u);
    EXPECT_TRUE(reported("does not offer STARTTLS", 907));
    EXPECT_EQ(plain.transcript().find("MAIL FROM"), std::string::npos);
}

TEST_F(Tls, VerificationOffIsLogged) {
    options(2, "\"TLSVerifyPeer\"=dword:00000000\r\n");
    TlsServer server(env.dir(), Kind::Aiosmtpd, "implicit", certs, "self", port, "alice", "secret");
    ASSERT_TRUE(server.ready());
    EXPECT_EQ(send(), 0);
    EXPECT_EQ(server.messages().size(), 1u);
    auto log = env.log_texts();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string &l) {
        return l.find("TLS certificate of [localhost] not verified") != std::string::npos;
    }));
}

TEST_F(Tls, SilentServerEndsTheHandshakeAtOneTimeOut) {
    ::setenv("KORVEXAPI_TIMEOUT_MS", "500", 1);
    options(2);
    ScriptPeer peer(Script().pause(3000), "127.0.0.1", port);
    EXPECT_EQ(send(), -1);
    EXPECT_EQ(req.nErrorCode, 907);
    EXPECT_TRUE(reported("Secure connection to [127.0.0.1] failed", 907));
    EXPECT_TRUE(file_exists(env.path("m.txt")));
}

}  // namespace
