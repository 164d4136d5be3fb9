// The SMTP session where no send reaches: the list form with no recipient
// (the send path refuses it before any session).
#include <gtest/gtest.h>

#include <cstring>

#include "smtp/transaction.h"
#include "support/script_peer.h"
#include "support/test_env.h"

using namespace testenv;

namespace {

const std::string kBody = "Subject: test\r\n\r\nline one\r\n.starts with a dot\r\nlast line";

class Smtp : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("KORVEXAPI_TIMEOUT_MS", "3000", 1);
        KorvexAPI_Initialize_Library(&block, 0, 1, "T");
        KorvexAPI_Initialize_Structure(&block, &session);
        std::strcpy(req.szSender, "sender@origin.test");
        std::strcpy(req.szRecipient, "rcpt@dest.test");
        req.bSingleRecipient = 1;
        req.nAttempt = 1;
        write_file(env.path("msg.txt"), kBody);
        std::strcpy(req.szMessageFile, env.path("msg.txt").c_str());
        call.app = "App";
        call.req = &req;
        call.cb = record_status;
        call.block = &block;
        call.session = &session;
    }
    void TearDown() override { ::unsetenv("KORVEXAPI_TIMEOUT_MS"); }
    void target(int port) {
        std::strcpy(session.szHostAddress, "127.0.0.1");
        session.nPort = static_cast<uint32_t>(port);
        std::strcpy(req.szServerIP, "127.0.0.1");
    }
    int deliver(ScriptPeer &peer) {
        target(peer.port());
        return vellor::SMTP_Deliver_Message(call, 1);
    }
    void transport_close() { KorvexAPI_Close_Socket(&block, &session, 1); }

    TempEnv env;
    TCPLIBRARY_STRUCTURE block{};
    TCPSESSION_STRUCTURE session{};
    SMTPSEND_STRUCTURE req{};
    vellor::Call call;
};

TEST_F(Smtp, ListModeWithNoRecipientsSendsNoRcpt) {
    req.bSingleRecipient = 0;
    req.nRecipients = 0;
    ScriptPeer peer(
        Script::replies("220 hi\r\n", {"250 hello\r\n", "250 ok\r\n", "354 go\r\n"}).data().say("250 ok\r\n"));
    EXPECT_EQ(deliver(peer), 0);
    EXPECT_EQ(peer.transcript().substr(0, 57), "HELO origin.test\r\nMAIL FROM: <sender@origin.test>\r\nDATA\r\n");
    ScriptPeer batch(smtp_accepting(1, false));
    target(batch.port());
    EXPECT_EQ(vellor::SMTP_Deliver_Batch_Message(call, 1), 0);
    EXPECT_EQ(req.nRecipients, 1);  // a batch message names one recipient: 0 becomes 1
    transport_close();
}

}  // namespace
