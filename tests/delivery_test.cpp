// Delivery end to end through VELLOR_Send_Message: relay of one message, of
// queue directories and of envelope queues; direct delivery to mail
// exchangers; and no queued message lost whatever step a server fails at.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "support/capture_server.h"
#include "support/dns_fixture.h"
#include "support/script_peer.h"
#include "support/test_env.h"
#include "vellorapi.h"

using namespace testenv;

namespace {

class Delivery : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("KORVEXAPI_TIMEOUT_MS", "2000", 1);
        dns.a("relay.test", {"127.0.0.1"});
        SMTPINIT_STRUCTURE lib{};
        VELLOR_Initialize_Library(&lib, 0, "App");
        VELLOR_Initialize_Structure(&lib, &req);
        std::strcpy(req.szSender, "sender@origin.test");
        req.nPort = port;
    }
    void TearDown() override {
        ::unsetenv("KORVEXAPI_TIMEOUT_MS");
        if (req.hRecipients) GlobalFree(req.hRecipients);
    }
    int send() { return VELLOR_Send_Message("App", &req, record_status); }
    std::string queue(const std::string &name, int files, bool envelopes = false) {
        std::string dir = env.path(name);
        ::mkdir(dir.c_str(), 0755);
        for (int i = 0; i < files; ++i) {
            char n[32];
            std::snprintf(n, sizeof n, "/m%04d", i);
            write_file(dir + n + ".txt", "Subject: " + std::to_string(i) + "\r\n\r\nbody " + std::to_string(i) + "\r\n");
            if (envelopes) write_file(dir + n + ".env", "MAIL FROM: <q@origin.test>\r\nRCPT TO: <r" + std::to_string(i) + "@dest.test>\r\n");
        }
        return dir;
    }
    int files_in(const std::string &dir) {
        int n = 0;
        for (const char *ext : {".txt", ".env"})
            for (int i = 0; i < 400; ++i) {
                char p[32];
                std::snprintf(p, sizeof p, "/m%04d%s", i, ext);
                n += file_exists(dir + p);
            }
        return n;
    }
    std::vector<std::string> texts(int status = 0) const {
        std::vector<std::string> out;
        for (const auto &r : reports())
            if (!status || r.status == status) out.push_back(r.text);
        return out;
    }
    bool reported(int status, const std::string &text, int code) const {
        return std::find(reports().begin(), reports().end(), Report{status, text, code}) != reports().end();
    }

    TempEnv env;
    ScriptedDns dns;
    DnsServerEnv point{dns.port()};
    int port = free_port("127.0.0.1");
    SMTPSEND_STRUCTURE req{};
};

// ---- relay -------------------------------------------------------------------------

TEST_F(Delivery, OneMessageThroughARelayWithLogin) {
    CaptureServer server(env.dir(), "127.0.0.1", port, "alice", "secret");
    ASSERT_TRUE(server.ready());
    std::string body = "Subject: relay\r\n\r\nHello through the relay.\r\n";
    write_file(env.path("one.txt"), body);
    std::strcpy(req.szServer, "relay.test");
    std::strcpy(req.szRecipient, "rcpt@dest.test");
    req.bSingleRecipient = 1;
    std::strcpy(req.szMessageFile, env.path("one.txt").c_str());
    std::strcpy(req.szAuthUser, "alice");
    std::strcpy(req.szAuthPassword, "secret");
    EXPECT_EQ(send(), 0);
    EXPECT_EQ(req.nMessagesSent, 1);
    EXPECT_STREQ(req.szServerIP, "127.0.0.1");
    ASSERT_EQ(server.messages().size(), 1u);
    EXPECT_EQ(server.messages()[0], body + "\r\n");
    std::vector<Report> expected = {
        {921, "Validating senders address of [sender@origin.test]...", 0},
        {921, "Senders address validated successfully...", 0},
        {921, "Validating single recipients address of [rcpt@dest.test]...", 0},
        {921, "single recipients address validated successfully...", 0},
        {921, "All required data validated successfully...", 0},
        {921, "Trying to resolve server name of [relay.test]", 0},
        {921, "Resolved SMTP server [relay.test] to [127.0.0.1] successful.", 0},
        {921, "VellorAPI [App] - Sending message to relay server.", 0},
        {921, "VellorAPI [App] - Authentication data received and encoded", 0},
        {921, "VellorAPI [App] - [1] - Trying to connect to SMTP server [relay.test - 127.0.0.1]", 0},
        {921, "VellorAPI [App] - [1] - Authentication details accepted by server...", 0},
        {921, "VellorAPI [App] - [1] - Recipient address of [rcpt@dest.test] accepted...", 0},
        {922, "VellorAPI [App] - [1] - Message from [sender@origin.test] sent to [rcpt@dest.test] sucessfully...", 0},
        {922, "Send of 1 message(s) completed", 0},
    };
    EXPECT_EQ(reports(), expected);
}

TEST_F(Delivery, RelayFailureReportsTheErrorText) {
    ScriptPeer peer(Script::replies("220 hi\r\n", {"250 hello\r\n", "550 no sender\r\n"}), "127.0.0.1", port);
    write_file(env.path("one.txt"), "x");
    std::strcpy(req.szServerIP, "127.0.0.1");
    std::strcpy(req.szServer, "unresolvable.invalid");  // not looked up: the address is given
    std::strcpy(req.szRecipient, "rcpt@dest.test");
    req.bSingleRecipient = 1;
    std::strcpy(req.szMessageFile, env.path("one.txt").c_str());
    EXPECT_EQ(send(), -1);
    EXPECT_EQ(req.nErrorCode, 902);
    EXPECT_STREQ(req.szErrorText, "VellorAPI - Server refused to accept senders email address.");
    EXPECT_TRUE(reported(920, "Message FAILED to be sent to [rcpt@dest.test]", 907));
    EXPECT_TRUE(reported(920, "Error 902, cause = [VellorAPI - Server refused to accept senders email address.]", 907));
    EXPECT_EQ(dns.queries("unresolvable.invalid"), 0);
}

TEST_F(Delivery, RelayNameThatDoesNotResolve) {
    std::strcpy(req.szServer, "nowhere.test");
    req.bSingleRecipient = 1;
    std::strcpy(req.szRecipient, "r@dest.test");
    EXPECT_EQ(send(), -1);
    EXPECT_EQ(req.nErrorCode, 906);
    EXPECT_TRUE(reported(920, "Unable to send message...", 909));
}

TEST_F(Delivery, QueueOf300SendsAtMost250OverOneConnection) {
    env.registry("\"MsgExtension\"=\"txt\"\r\n");
    CaptureServer server(env.dir(), "127.0.0.1", port);
    ASSERT_TRUE(server.ready());
    std::string dir = queue("queue", 300);
    std::strcpy(req.szServerIP, "127.0.0.1");
    std::strcpy(req.szRecipient, "rcpt@dest.test");
    req.bSingleRecipient = 1;
    req.bDeleteMessage = 1;
    std::strcpy(req.szMessageFile, dir.c_str());
    EXPECT_EQ(send(), 0);
    EXPECT_EQ(req.nMessagesSent, 250);
    EXPECT_EQ(server.messages().size(), 250u);
    EXPECT_EQ(server.sessions(), 1);
    EXPECT_EQ(files_in(dir), 50);
    EXPECT_TRUE(reported(921, "VellorAPI [App] - 300 messages have been identified as waiting to be sent!", 0));
    EXPECT_TRUE(reported(922, "Send of 250 message(s) completed", 0));
    std::strcpy(req.szMessageFile, dir.c_str());
    EXPECT_EQ(send(), 0);
    EXPECT_EQ(req.nMessagesSent, 300);  // added to the first call's count
    EXPECT_EQ(files_in(dir), 0);
    EXPECT_EQ(server.sessions(), 2);
}

TEST_F(Delivery, QueueLimitsOfOneAndNegative) {
    env.registry("\"MsgExtension\"=\"txt\"\r\n");
    for (int max : {1, -1}) {
        SCOPED_TRACE(max);
        ScriptPeer peer(smtp_accepting(), "127.0.0.1", port);
        std::string dir = queue("q" + std::to_string(max + 2), 3);
        std::strcpy(req.szServerIP, "127.0.0.1");
        std::strcpy(req.szRecipient, "rcpt@dest.test");
        req.bSingleRecipient = 1;
        req.bDeleteMessage = 1;
        req.nMaxMessages = max;
        req.nMessagesSent = 0;
        std::strcpy(req.szMessageFile, dir.c_str());
        EXPECT_EQ(send(), 0);
        EXPECT_EQ(req.nMessagesSent, 1);
        EXPECT_FALSE(file_exists(dir + "/m0000.txt"));
        EXPECT_TRUE(file_exists(dir + "/m0001.txt"));
    }
}

TEST_F(Delivery, ACountOfOneUsesItsOwnConnection) {
    env.registry("\"MsgExtension\"=\"txt\"\r\n");
    ScriptPeer peer(smtp_accepting(), "127.0.0.1", port);
    std::string dir = queue("single", 1);
    std::strcpy(req.szServerIP, "127.0.0.1");
    std::strcpy(req.szRecipient, "rcpt@dest.test");
    req.bSingleRecipient = 1;
    std::strcpy(req.szMessageFile, dir.c_str());
    EXPECT_EQ(send(), 0);
    std::string t = peer.transcript();
    EXPECT_EQ(t.find("QUIT"), t.rfind("QUIT"));  // one QUIT: the transaction's own
    EXPECT_TRUE(reported(921, "VellorAPI [App] - 1 message has been identified as waiting to be sent!", 0));
}

TEST_F(Delivery, EnvelopeQueueThroughOneRelayConnection) {
    std::string dir = env.path("envq");
    ::mkdir(dir.c_str(), 0755);
    for (int i = 1; i <= 3; ++i) {
        std::string e = "MAIL FROM: <q@origin.test>\r\n";
        for (int k = 0; k < i; ++k) e += "RCPT TO: <m" + std::to_string(i) + "r" + std::to_string(k) + "@dest.test>\r\n";
        write_file(dir + "/m000" + std::to_string(i) + ".txt", "Subject: " + std::to_string(i) + "\r\n\r\nx\r\n");
        write_file(dir + "/m000" + std::to_string(i) + ".env", e);
    }
    // The second message is refused after its data; the batch goes on.
    Script s;
    s.say("220 hi\r\n").line().say("250 hello\r\n");
    s.line().say("250 ok\r\n").line().say("250 ok\r\n").line().say("354 go\r\n").data().say("250 one\r\n");
    s.line().say("250 ok\r\n").line().say("250 ok\r\n").line().say("250 ok\r\n").line().say("354 go\r\n").data().say("554 no\r\n");
    s.line().say("250 reset\r\n");  // RSET after the refused message
    s.line().say("250 ok\r\n");
    for (int k = 0; k < 3; ++k) s.line().say("250 ok\r\n");
    s.line().say("354 go\r\n").data().say("250 three\r\n").line().say("221 bye\r\n");
    ScriptPeer peer(s, "127.0.0.1", port);
    std::strcpy(req.szServerIP, "127.0.0.1");
    req.bUseEnvFile = 1;
    req.bDeleteMessage = 1;
    req.szSender[0] = 0;
    std::strcpy(req.szMessageFile, dir.c_str());
    EXPECT_EQ(send(), 0);
    EXPECT_EQ(req.nMessagesSent, 2);
    EXPECT_EQ(peer.accepted(), 1);
    std::string t = peer.transcript();
    EXPECT_NE(t.find("RCPT TO: <m3r0@dest.test>\r\nRCPT TO: <m3r1@dest.test>\r\nRCPT TO: <m3r2@dest.test>\r\n"),
              std::string::npos);
    EXPECT_NE(t.find("\r\n.\r\nRSET\r\nMAIL FROM: <q@origin.test>"), std::string::npos);
    EXPECT_FALSE(file_exists(dir + "/m0001.txt"));
    EXPECT_FALSE(file_exists(dir + "/m0001.env"));
    EXPECT_TRUE(file_exists(dir + "/m0002.txt"));
    EXPECT_TRUE(file_exists(dir + "/m0002.env"));
    EXPECT_FALSE(file_exists(dir + "/m0003.txt"));
    EXPECT_TRUE(reported(921, "3 message(s) have been identified as waiting to be sent!", 0) ||
                reported(921, "0 message(s) have been identified as waiting to be sent!", 0));
}

// ---- no message is ever lost ---------------------------------------------------------

TEST_F(Delivery, FilesStayUntilTheServerAccepts) {
    ::setenv("KORVEXAPI_TIMEOUT_MS", "500", 1);
    std::string dir = queue("keep", 1, true);
    const std::string m = dir + "/m0000.txt", e = dir + "/m0000.env";
    struct Case {
        const char *step;
        Script script;
    } cases[] = {
        {"greeting refused", Script::replies("554 go away\r\n", {"554 no\r\n"})},
        {"HELO", Script::replies("220 hi\r\n", {"501 no\r\n"})},
        {"MAIL", Script::replies("220 hi\r\n", {"250 hello\r\n", "451 later\r\n"})},
        {"RCPT", Script::replies("220 hi\r\n", {"250 hello\r\n", "250 ok\r\n", "550 unknown\r\n"})},
        {"DATA", Script::replies("220 hi\r\n", {"250 hello\r\n", "250 ok\r\n", "250 ok\r\n", "451 later\r\n"}).close()},
        {"body", Script::replies("220 hi\r\n", {"250 hello\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n"}).close()},
        {"final reply", Script::replies("220 hi\r\n", {"250 hello\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n"}).data().pause(1500)},
    };
    std::strcpy(req.szServerIP, "127.0.0.1");
    req.bUseEnvFile = 1;
    req.bDeleteMessage = 1;
    for (auto &c : cases) {
        SCOPED_TRACE(c.step);
        ScriptPeer peer(c.script, "127.0.0.1", port);
        std::strcpy(req.szMessageFile, m.c_str());
        send();
        EXPECT_TRUE(file_exists(m));
        EXPECT_TRUE(file_exists(e));
    }
    ScriptPeer accepting(smtp_accepting(), "127.0.0.1", port);
    std::strcpy(req.szMessageFile, m.c_str());
    EXPECT_EQ(send(), 0);
    EXPECT_FALSE(file_exists(m));
    EXPECT_FALSE(file_exists(e));
}

// ---- MX delivery ---------------------------------------------------------------------

TEST_F(Delivery, SingleRecipientTriesExchangersInOrder) {
    dns.mx("three.test", {{"mx1.three.test", 30}, {"mx2.three.test", 20}, {"mx3.three.test", 10}});
    dns.a("mx1.three.test", {"127.0.0.2"});  // nothing listens: refused
    dns.a("mx2.three.test", {"127.0.0.3"});
    dns.a("mx3.three.test", {"127.0.0.4"});
    ScriptPeer second(smtp_accepting(), "127.0.0.3", port);
    ScriptPeer third(smtp_accepting(), "127.0.0.4", port);
    req.bSingleRecipient = 1;
    std::strcpy(req.szRecipient, "rcpt@three.test");
    write_file(env.path("m.txt"), "hello\r\n");
    std::strcpy(req.szMessageFile, env.path("m.txt").c_str());
    EXPECT_EQ(send(), 0);
    EXPECT_EQ(req.nMxIPAddresses, 3);
    EXPECT_STREQ(req.szMxIPAddress[0], "127.0.0.2");
    EXPECT_EQ(req.nWinsockError, 10061);
    EXPECT_EQ(req.nRecipients, 1);
    EXPECT_TRUE(reported(920, "Unable to make a connection to [127.0.0.2] for [App]", 907));
    EXPECT_TRUE(reported(922, "Message sent using MX successfully to [rcpt@three.test]", 0));
    EXPECT_EQ(second.accepted(), 1);
    EXPECT_EQ(third.accepted(), 0);
}

TEST_F(Delivery, EveryExchangerRefusesTheMessage) {
    dns.mx("refuse.test", {{"a.refuse.test", 10}, {"b.refuse.test", 10}, {"c.refuse.test", 10}});
    std::vector<std::unique_ptr<ScriptPeer>> peers;
    int n = 2;
    for (const char *h : {"a.refuse.test", "b.refuse.test", "c.refuse.test"}) {
        std::string addr = "127.0.0." + std::to_string(n++);
        dns.a(h, {addr});
        peers.push_back(std::make_unique<ScriptPeer>(Script::replies("220 hi\r\n", {"250 hello\r\n", "550 no\r\n"}),
                                                     addr.c_str(), port));
    }
    req.bSingleRecipient = 1;
    std::strcpy(req.szRecipient, "rcpt@refuse.test");
    write_file(env.path("m.txt"), "hello\r\n");
    std::strcpy(req.szMessageFile, env.path("m.txt").c_str());
    EXPECT_EQ(send(), -1);
    EXPECT_EQ(req.nErrorCode, 919);
    EXPECT_TRUE(reported(920, "Unable to send email to [rcpt@refuse.test]", 919));
    EXPECT_TRUE(reported(920, "Error Code returned = 919, email refused by all servers", 919));
    for (auto &p : peers) EXPECT_EQ(p->accepted(), 1);
}

TEST_F(Delivery, DomainWithoutExchangers) {
    req.bSingleRecipient = 1;
    std::strcpy(req.szRecipient, "rcpt@nomx.test");
    req.nErrorCode = 123;
    EXPECT_EQ(send(), -1);
    EXPECT_EQ(req.nErrorCode, 123);
    EXPECT_TRUE(reported(920, "Unable to resolve domain [nomx.test] to an IP address...", 0));
    // A recipient without '@' has an empty domain: the same failure.
    std::strcpy(req.szRecipient, "nobody");
    req.szServer[0] = req.szServerIP[0] = 0;
    reports().clear();
    EXPECT_EQ(send(), -1);
    EXPECT_TRUE(reported(920, "Unable to resolve domain [] to an IP address...", 0));
}

TEST_F(Delivery, ListOfThreeStopsAtAnUnresolvableDomain) {
    dns.a("one.test", {"127.0.0.2"});
    dns.a("three.test", {"127.0.0.4"});
    ScriptPeer first(smtp_accepting(), "127.0.0.2", port);
    ScriptPeer third(smtp_accepting(), "127.0.0.4", port);
    req.bMultipleRecipients = 1;
    req.hRecipients = make_list("a@one.test b@two.test c@three.test");
    write_file(env.path("m.txt"), "hello\r\n");
    std::strcpy(req.szMessageFile, env.path("m.txt").c_str());
    EXPECT_EQ(send(), -1);
    EXPECT_EQ(req.nErrorCode, 906);
    EXPECT_EQ(req.bViaMX, 1);
    std::string t = first.transcript();
    EXPECT_NE(t.find("RCPT TO: <a@one.test>\r\nDATA"), std::string::npos);  // its own RCPT only
    EXPECT_EQ(third.accepted(), 0);
    EXPECT_TRUE(reported(922, "[1] - Message sent using MX successfully to [a@one.test]", 0));
    EXPECT_TRUE(reported(920, "Unable to resolve recipient's domain of [two.test] - Send aborted", 909));
}

TEST_F(Delivery, ListRecipientsEachGetTheirOwnConnection) {
    dns.a("one.test", {"127.0.0.2"});
    {
        ScriptPeer server(smtp_accepting(), "127.0.0.2", port, 2);
        req.bMultipleRecipients = 1;
        req.hRecipients = make_list("a@one.test b@one.test");
        write_file(env.path("m.txt"), "hello\r\n");
        std::strcpy(req.szMessageFile, env.path("m.txt").c_str());
        EXPECT_EQ(send(), 0);
        EXPECT_EQ(server.accepted(), 2);
        std::string t = server.transcript();
        EXPECT_NE(t.find("RCPT TO: <a@one.test>\r\nDATA"), std::string::npos);
        EXPECT_NE(t.find("RCPT TO: <b@one.test>\r\nDATA"), std::string::npos);
    }
    // A later send on the same record finds a server and goes to the relay.
    reports().clear();
    req.bMultipleRecipients = 0;
    GlobalFree(req.hRecipients);
    req.hRecipients = nullptr;
    req.nRecipients = 0;
    req.bSingleRecipient = 1;
    std::strcpy(req.szMessageFile, env.path("m.txt").c_str());
    ScriptPeer relay(smtp_accepting(), "127.0.0.2", port);
    EXPECT_EQ(send(), 0);
    EXPECT_TRUE(reported(921, "VellorAPI [App] - Sending message to relay server.", 0));
}

TEST_F(Delivery, EnvelopeDirectoryPassResolvesASharedDomainOnce) {
    Dnsmasq dnsmasq(env.dir(), {"local=/test/", "host-record=shared.test,127.0.0.2"});
    ASSERT_TRUE(dnsmasq.ready());
    DnsServerEnv use(dnsmasq.port());
    CaptureServer server(env.dir(), "127.0.0.2", port);
    ASSERT_TRUE(server.ready());
    std::string dir = env.path("mxq");
    ::mkdir(dir.c_str(), 0755);
    for (int i = 0; i < 3; ++i) {
        write_file(dir + "/m" + std::to_string(i) + ".txt", "Subject: " + std::to_string(i) + "\r\n\r\nx\r\n");
        write_file(dir + "/m" + std::to_string(i) + ".env",
                   "MAIL FROM: <q@origin.test>\r\nRCPT TO: <a" + std::to_string(i) + "@shared.test>\r\nRCPT TO: <b" +
                       std::to_string(i) + "@shared.test>\r\n");
    }
    req.bUseEnvFile = 1;
    std::strcpy(req.szMessageFile, dir.c_str());
    EXPECT_EQ(send(), 0);
    EXPECT_EQ(req.nMessagesSent, 6);
    EXPECT_EQ(server.messages().size(), 6u);
    EXPECT_EQ(dnsmasq.queries_for("shared.test"), 1);
    int identified = 0;
    for (const auto &r : reports()) identified += r.status == 920 && r.code == 909 && r.text.starts_with("Identified recipient");
    EXPECT_EQ(identified, 6);
}

TEST_F(Delivery, EnvelopeMessageByMx) {
    dns.a("dest.test", {"127.0.0.3"});
    CaptureServer server(env.dir(), "127.0.0.3", port);
    ASSERT_TRUE(server.ready());
    write_file(env.path("e.txt"), "Subject: env\r\n\r\nx\r\n");
    write_file(env.path("e.env"), "MAIL FROM: <q@origin.test>\r\nRCPT TO: <one@dest.test>\r\n");
    req.bUseEnvFile = 1;
    std::strcpy(req.szMessageFile, env.path("e.txt").c_str());
    EXPECT_EQ(send(), 0);
    EXPECT_EQ(server.messages().size(), 1u);
    EXPECT_TRUE(reported(922, "Message sent using MX successfully to [one@dest.test]", 0));
    EXPECT_TRUE(reported(921, "Sending of message completed successfully", 0));
    write_file(env.path("e.env"), "");
    req.szServer[0] = req.szServerIP[0] = 0;
    req.szSender[0] = 0;
    req.szRecipient[0] = 0;
    EXPECT_EQ(send(), -1);
    EXPECT_EQ(req.nErrorCode, 912);
    EXPECT_TRUE(reported(920, "Failed to resolve recipients in ENV file", 912));
}

}  // namespace
