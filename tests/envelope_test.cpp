// Envelopes beyond what data/details.cases and data/parsers.rows hold: the
// recipient list growing past its first kilobyte, memory failures at each
// allocation, and a huge line read in pieces.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>

#include "msgfiles/envelope_reader.h"
#include "platform/global_memory.h"
#include "support/test_env.h"
#include "vellorapi.h"

using namespace testenv;
using vellor::gmem::Op;

namespace {

class Envelope : public ::testing::Test {
protected:
    void SetUp() override {
        ::mkdir(env.path("q").c_str(), 0755);
        write_file(env.path("q/msg1.txt"), "Subject: x\r\n\r\nbody\r\n");
        std::strcpy(req.szMessageFile, env.path("q/msg1.txt").c_str());
        req.bUseEnvFile = 1;
    }
    void TearDown() override {
        vellor::gmem::reset_faults();
        if (req.hRecipients) GlobalFree(req.hRecipients);
    }
    void envelope(const std::string &text, const char *name = "q/msg1.ENV") { write_file(env.path(name), text); }
    std::string list() {
        const char *p = static_cast<const char *>(GlobalLock(req.hRecipients));
        std::string s = p ? std::string(p, ::strnlen(p, GlobalSize(req.hRecipients))) : "";
        GlobalUnlock(req.hRecipients);
        return s;
    }
    TempEnv env;
    SMTPSEND_STRUCTURE req{};
};

TEST_F(Envelope, ListGrowsPastItsFirstKilobyte) {
    std::string text = "MAIL FROM: <s@x.test>\r\n";
    std::string expected;
    for (int i = 0; i < 80; ++i) {
        char addr[64];
        std::snprintf(addr, sizeof addr, "recipient-number-%03d@some-domain.test", i);  // 40 characters
        text += std::string("RCPT TO: <") + addr + ">\r\n";
        expected += (i ? " " : "") + std::string(addr);
    }
    envelope(text);
    EXPECT_EQ(VELLOR_Get_Message_Details(&req), 0);
    EXPECT_EQ(list(), expected);
    EXPECT_EQ(req.nRecipients, 80);
    EXPECT_GE(GlobalSize(req.hRecipients), 3072u);
}

TEST_F(Envelope, ListGrowsOnlyWhenTextAddressAndTwoReachItsSize) {
    // 21 recipients of 40 characters make 860 bytes; a last address of 161
    // then needs 860 + 1 + 161 + NUL = 1023 bytes: the first kilobyte holds it.
    std::string text = "MAIL FROM: <s@x.test>\r\n";
    std::string expected;
    for (int i = 0; i < 21; ++i) {
        char addr[64];
        std::snprintf(addr, sizeof addr, "recipient-number-%03d@some-domain.test", i);
        text += std::string("RCPT TO: <") + addr + ">\r\n";
        expected += (i ? " " : "") + std::string(addr);
    }
    std::string last = std::string(161 - 10, 'z') + "@last.test";
    text += "RCPT TO: <" + last + ">\r\n";
    envelope(text);
    EXPECT_EQ(VELLOR_Get_Message_Details(&req), 0);
    EXPECT_EQ(list(), expected + " " + last);
    EXPECT_EQ(GlobalSize(req.hRecipients), 1024u);
}

TEST_F(Envelope, MemoryFailuresAtEachPlace) {
    std::string text = "MAIL FROM: <s@x.test>\r\n";
    for (int i = 0; i < 40; ++i)
        text += "RCPT TO: <recipient-number-" + std::to_string(100 + i) + "@some-domain.test>\r\n";
    struct Case {
        Op op;
        int nth;
        const char *sender, *recipient;
        int recipients;
        bool list_kept;
    } cases[] = {
        {Op::Alloc, 1, "s@x.test", "", 2, false},
        {Op::Lock, 1, "s@x.test", "", 2, false},
        {Op::ReAlloc, 1, "", "recipient-number-100@some-domain.test", 0, false},
    };
    for (const auto &c : cases) {
        envelope(text);
        SMTPSEND_STRUCTURE r{};
        std::strcpy(r.szMessageFile, env.path("q/msg1.txt").c_str());
        r.bUseEnvFile = 1;
        std::size_t live = vellor::gmem::live_blocks();
        vellor::gmem::fail_nth(c.op, c.nth);
        EXPECT_EQ(VELLOR_Get_Message_Details(&r), -1);
        vellor::gmem::reset_faults();
        EXPECT_EQ(r.nErrorCode, 913);
        EXPECT_STREQ(r.szSender, c.sender);
        EXPECT_STREQ(r.szRecipient, c.recipient);
        EXPECT_EQ(r.nRecipients, c.recipients);
        EXPECT_EQ(r.hRecipients, nullptr);
        EXPECT_EQ(vellor::gmem::live_blocks(), live);  // nothing leaked
    }
}

TEST(EnvelopeReader, AHugeLineIsReadInPiecesOf255) {
    std::string huge(10000, 'q');
    std::size_t n = 0;
    vellor::envelope::read_envelope(huge + "\r\n", [&](const vellor::envelope::Line &) { return ++n < 1000; });
    EXPECT_EQ(n, 40u);  // 10000 / 255 pieces, the last one ending the line
}

}  // namespace
