// Message files and envelopes: the named-file and directory forms, the
// envelope reader, the recipient list it builds, and its memory failures.
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

TEST_F(Envelope, LowerCaseMailFromAndOneRecipient) {
    envelope("mail from: <s@x.test>\r\nRCPT TO: <r@y.test>\r\n");
    req.hRecipients = GlobalAlloc(GHND, 16);  // a one-recipient envelope frees any list
    req.bMultipleRecipients = 1;              // and is no list any more
    EXPECT_EQ(VELLOR_Get_Message_Details(&req), 0);
    EXPECT_STREQ(req.szSender, "s@x.test");
    EXPECT_STREQ(req.szRecipient, "r@y.test");
    EXPECT_EQ(req.bSingleRecipient, 1);
    EXPECT_EQ(req.bMultipleRecipients, 0);
    EXPECT_EQ(req.nRecipients, 1);
    EXPECT_EQ(req.hRecipients, nullptr);
}

TEST_F(Envelope, ThreeRecipientsMakeAPlainList) {
    envelope("MAIL FROM: <s@x.test>\r\nRCPT TO: <a@y.test>\r\nRcpt To: <b@y.test>\r\nRCPT TO: <c@z.test>\r\n");
    EXPECT_EQ(VELLOR_Get_Message_Details(&req), 0);
    EXPECT_EQ(list(), "a@y.test b@y.test c@z.test");
    EXPECT_EQ(req.nRecipients, 3);
    EXPECT_EQ(req.bMultipleRecipients, 1);
    EXPECT_STREQ(req.szRecipient, "a@y.test");
    EXPECT_EQ(GlobalFlags(req.hRecipients) & GMEM_LOCKCOUNT, 0u);
}

TEST_F(Envelope, AnEmptyLineEndsTheEnvelope) {
    envelope("MAIL FROM: <s@x.test>\r\n\r\nRCPT TO: <a@y.test>\r\n");
    req.szRecipient[0] = 0;
    EXPECT_EQ(VELLOR_Get_Message_Details(&req), -1);
    EXPECT_EQ(req.nErrorCode, 911);
    EXPECT_EQ(req.nRecipients, 0);
    EXPECT_STREQ(req.szSender, "s@x.test");
}

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
    for (int i = 0; i < 40; ++i) text += "RCPT TO: <recipient-number-" + std::to_string(100 + i) + "@some-domain.test>\r\n";
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

TEST_F(Envelope, NamedFileForms) {
    // Another extension: nothing read, nothing changed.
    write_file(env.path("q/note.doc"), "x");
    std::strcpy(req.szMessageFile, env.path("q/note.doc").c_str());
    EXPECT_EQ(VELLOR_Get_Message_Details(&req), 0);
    EXPECT_STREQ(req.szMsgExtension, "TXT");
    EXPECT_STREQ(req.szSender, "");
    // bUseEnvFile 0: nothing read.
    envelope("MAIL FROM: <s@x.test>\r\nRCPT TO: <a@y.test>\r\n");
    std::strcpy(req.szMessageFile, env.path("q/msg1.txt").c_str());
    req.bUseEnvFile = 0;
    EXPECT_EQ(VELLOR_Get_Message_Details(&req), 0);
    EXPECT_STREQ(req.szSender, "");
    // No envelope: 0 recipients, and 911 unless sender and recipient are given.
    ::unlink(env.path("q/msg1.ENV").c_str());
    req.bUseEnvFile = 1;
    req.nRecipients = 5;
    EXPECT_EQ(VELLOR_Get_Message_Details(&req), -1);
    EXPECT_EQ(req.nErrorCode, 911);
    EXPECT_EQ(req.nRecipients, 0);
    std::strcpy(req.szSender, "s@x.test");
    std::strcpy(req.szRecipient, "r@y.test");
    EXPECT_EQ(VELLOR_Get_Message_Details(&req), 0);
}

TEST_F(Envelope, DirectoryForms) {
    envelope("MAIL FROM: <s@x.test>\r\nRCPT TO: <a@y.test>\r\n", "q/msg1.env");
    std::strcpy(req.szMessageFile, env.path("q").c_str());  // no trailing separator
    std::strcpy(req.szMsgExtension, "txt");                 // lower case still finds the envelope
    EXPECT_EQ(VELLOR_Get_Message_Details(&req), 0);
    EXPECT_EQ(std::string(req.szMessageFile), env.path("q/msg1.txt"));
    EXPECT_STREQ(req.szRecipient, "a@y.test");
    // An empty directory: 910.
    ::mkdir(env.path("empty").c_str(), 0755);
    std::strcpy(req.szMessageFile, env.path("empty/").c_str());
    EXPECT_EQ(VELLOR_Get_Message_Details(&req), -1);
    EXPECT_EQ(req.nErrorCode, 910);
    // A directory whose name holds a '.': taken as a named file, nothing found.
    ::mkdir(env.path("q.d").c_str(), 0755);
    write_file(env.path("q.d/m.txt"), "x");
    std::strcpy(req.szMessageFile, env.path("q.d").c_str());
    req.nErrorCode = 0;
    EXPECT_EQ(VELLOR_Get_Message_Details(&req), 0);
    EXPECT_EQ(std::string(req.szMessageFile), env.path("q.d"));
}

TEST(EnvelopeReader, LinesAndPieces) {
    struct Case {
        std::string bytes;
        std::vector<std::string> addresses;  // "F:" sender, "T:" recipient
    } cases[] = {
        {"MAIL FROM: <a@b.c>\r\nRCPT TO: <d@e.f>\r\n", {"F:a@b.c", "T:d@e.f"}},
        {"X-MAIL FROM: <a@b.c>\r\n", {"F: <a@b.c"}},  // taken from the 13th character
        {"MAIL FROM: <a@b.c\r\nRCPT TO: <no-bracket", {"F:a@b.c", "T:no-bracket"}},
        {"MAIL FROM: \r\nRCPT TO:\r\n", {"F:"}},  // too short for an address
        {"MAIL FROM: <a@b.c>\n\nRCPT TO: <d@e.f>", {"F:a@b.c", "T:d@e.f"}},  // LF alone ends no envelope
        {std::string("MAIL FROM: <a@\0b.c>\r\nRCPT TO: <d@e.f>\r\n", 39), {"F:a@", "T:d@e.f"}},
        {"no line ends at all and no keywords", {}},
        {"\r\nMAIL FROM: <a@b.c>\r\n", {}},
    };
    for (const auto &c : cases) {
        std::vector<std::string> got;
        vellor::envelope::read_envelope(c.bytes, [&](const vellor::envelope::Line &l) {
            if (l.kind == vellor::envelope::LineKind::MailFrom) got.push_back("F:" + l.address);
            if (l.kind == vellor::envelope::LineKind::RcptTo) got.push_back("T:" + l.address);
            return true;
        });
        EXPECT_EQ(got, c.addresses) << c.bytes;
    }
}

TEST(EnvelopeReader, LongLinesAreReadInPiecesOf255) {
    std::string line = "RCPT TO: <" + std::string(300, 'a') + "@b.c>\r\nRCPT TO: <x@y.z>\r\n";
    std::vector<std::string> got;
    vellor::envelope::read_envelope(line, [&](const vellor::envelope::Line &l) {
        got.push_back(l.address);
        return true;
    });
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].size(), 245u);  // first piece: 255 characters from the 11th
    EXPECT_EQ(got[2], "x@y.z");
    std::string huge(10000, 'q');
    std::size_t n = 0;
    vellor::envelope::read_envelope(huge + "\r\n", [&](const vellor::envelope::Line &) { return ++n < 1000; });
    EXPECT_EQ(n, 40u);  // 10000 / 255 pieces, the last one ending the line
}

}  // namespace
