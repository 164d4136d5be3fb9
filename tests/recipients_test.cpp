// The address check and the recipient list: validation, sequential reading
// and picking by number, in both list forms.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/global_memory.h"
#include "msgfiles/recipients.h"
#include "support/test_env.h"

using namespace testenv;
using vellor::is_valid_address;

namespace {

TEST(AddressCheck, Cases) {
    struct Case {
        const char *address;
        int valid;
    } cases[] = {
        {"a@b.c", 1},    {"a@b.", 1},     {"a@.b", 0},    {"ab.c", 0},    {"@b.c", 0},   {"", 0},
        {"a@b\\c.d", 0}, {"a\\b@c.d", 0}, {"a@b@c.d", 1}, {"a@b.c@d", 1}, {"a@b@.d", 0}, {"first.last@x.org", 1},
        {"a b@c.d", 1},  {"x@y", 0},      {".@b.c", 1},   {"a@@b.c", 1},
    };
    for (const auto &c : cases) EXPECT_EQ(is_valid_address(c.address, "App"), c.valid) << c.address;
}

struct ListCase {
    const char *text;
    int result, count;
};

TEST(RecipientList, ParserCases) {
    const ListCase cases[] = {
        {"a@b.com c@d.org e@f.net", 0, 3},
        {"a@b.com c@d.org e@f.net ", 0, 3},  // one trailing blank
        {"a@b.com  c@d.org", -1, 1},         // two blanks: an empty entry
        {"a@b.com abcd", 0, 1},              // short trailing entry is no entry
        {"abcd", -1, 0},                     // nothing but such an entry
        {"", -1, 0},
        {"   a@b.com", 0, 1},  // leading blanks skipped
        {"a@b.com bad c@d.org", -1, 1},
        {"\"Ann\" <a@b.com>, \"Bob\" <c@d.org>", 0, 2},
        {"<a@b.com><c@d.org>", 0, 2},
        {"a@b.com <c@d.org>", 0, 1},     // mixed: first entry runs to the first '>'
        {"<a@b.com> <c@d.org", -1, 1},   // unclosed '<' at the end: rejected, never loops
        {"<a@b.com> <c@d.org x", 0, 2},  // a blank closes the entry
        {"a@b,c@d.e", 0, 1},             // a comma is part of the address
        {"a@b.c", 0, 1},
        {"a@b.cd", 0, 1},
        {"a@.b.com", -1, 0},
        {"a@b. c@d.org", -1, 0},  // nothing after the domain's dot
    };
    for (const auto &c : cases) {
        int count = -1;
        EXPECT_EQ(vellor::parse_recipient_list("App", c.text, count), c.result) << c.text;
        EXPECT_EQ(count, c.count) << c.text;
    }
}

TEST(RecipientList, EntryLengthLimit) {
    int count = 0;
    std::string ok = std::string(505, 'a') + "@b.com";        // 511 characters: the most
    std::string too_long = std::string(506, 'a') + "@b.com";  // 512
    EXPECT_EQ(vellor::parse_recipient_list("App", ok + " x@y.org", count), 0);
    EXPECT_EQ(vellor::parse_recipient_list("App", too_long + " x@y.org", count), -1);
    // RCPT TO names at most the 255 characters the fields hold.
    auto rcpts = vellor::rcpt_entries(std::string(300, 'r') + "@x.org b@y.org", 3);
    ASSERT_EQ(rcpts.size(), 3u);
    EXPECT_EQ(rcpts[0], std::string(255, 'r'));
    EXPECT_EQ(rcpts[1], "b@y.org");
    EXPECT_EQ(rcpts[2], "");
    EXPECT_EQ(vellor::bracket_cut("\"Ann\" <a@b.org>"), "a@b.org");
}

TEST(RecipientList, ValidationLogsAndCounts) {
    TempEnv env;
    SMTPSEND_STRUCTURE req{};
    req.hRecipients = make_list("a@b.com c@d.org");
    EXPECT_EQ(vellor::validate_recipient_list(&req, "App"), 1);
    EXPECT_EQ(req.nRecipients, 2);
    EXPECT_EQ(GlobalFlags(req.hRecipients), 0u);  // unlocked again
    EXPECT_EQ(env.log_texts(), (std::vector<std::string>{"VellorAPI [App] - 2 valid recipient address(s) received",
                                                         "Identified and validated 2 recipient(s)"}));
    GlobalFree(req.hRecipients);
    env.clear_log();
    req.hRecipients = make_list("a@b.com nope-nope c@d.org");
    req.nRecipients = 9;
    EXPECT_EQ(vellor::validate_recipient_list(&req, "App"), 0);
    EXPECT_EQ(req.nErrorCode, 912);
    EXPECT_EQ(req.nRecipients, 9);
    EXPECT_EQ(env.log_texts(),
              (std::vector<std::string>{"VellorAPI [App] - 1 valid recipient address(s) received",
                                        "VellorAPI [App] - One or more recipient address(s) in list INVALID",
                                        "VellorAPI [App] - Sending aborted..."}));
    GlobalFree(req.hRecipients);
    env.clear_log();
    req.hRecipients = make_list("x@y.org");
    req.nErrorCode = 0;
    vellor::gmem::fail_nth(vellor::gmem::Op::Lock, 1);
    EXPECT_EQ(vellor::validate_recipient_list(&req, "App"), 0);
    EXPECT_EQ(req.nErrorCode, 0);
    EXPECT_EQ(env.log_texts().at(0), "VellorAPI [App] - Unable to access (lock) recipient address(s) list received");
    GlobalFree(req.hRecipients);
}

std::vector<std::string> read_all(HGLOBAL h) {
    std::vector<std::string> out;
    uint32_t offset = 0;
    for (int guard = 0; guard < 1000; ++guard) {
        std::string a;
        vellor::next_recipient(h, a, offset);
        if (a.empty()) break;
        out.push_back(a);
    }
    return out;
}

std::vector<std::string> pick_all(HGLOBAL h, int n) {
    std::vector<std::string> out;
    SMTPSEND_STRUCTURE req{};
    req.hRecipients = h;
    for (int i = 1; i <= n; ++i) {
        if (vellor::select_recipient(&req, i) != 0) break;
        out.push_back(req.szRecipient);
    }
    return out;
}

TEST(RecipientList, ReaderAndPickerAgreeWithTheParser) {
    struct Case {
        const char *text;
        std::vector<std::string> addresses;
    } cases[] = {
        {"a@b.com c@d.org e@f.net", {"a@b.com", "c@d.org", "e@f.net"}},
        {"a@b.com c@d.org ", {"a@b.com", "c@d.org"}},
        {"\"Ann\" <a@b.com>, \"Bob\" <c@d.org>", {"a@b.com", "c@d.org"}},
        {"<a@b.com><c@d.org>", {"a@b.com", "c@d.org"}},
    };
    for (const auto &c : cases) {
        HGLOBAL h = make_list(c.text);
        int count = 0;
        vellor::parse_recipient_list("App", c.text, count);
        EXPECT_EQ(static_cast<std::size_t>(count), c.addresses.size()) << c.text;
        EXPECT_EQ(read_all(h), c.addresses) << c.text;
        EXPECT_EQ(pick_all(h, count), c.addresses) << c.text;
        GlobalFree(h);
    }
}

TEST(RecipientList, ReaderEdges) {
    HGLOBAL h = make_list(" a@b.com c@d.org");  // validates, but reads nothing
    EXPECT_TRUE(read_all(h).empty());
    GlobalFree(h);
    h = make_list("<a@b.com> <c@d.org");  // unclosed: the reader stops
    EXPECT_EQ(read_all(h), (std::vector<std::string>{"a@b.com"}));
    GlobalFree(h);
    std::string long_address = std::string(300, 'l') + "@x.org";
    h = make_list(long_address);
    EXPECT_EQ(read_all(h).at(0).size(), 255u);  // cut to the field width
    GlobalFree(h);
}

TEST(RecipientList, PickingEdges) {
    TempEnv env;
    SMTPSEND_STRUCTURE req{};
    req.hRecipients = make_list("a@b.com c@d.org");
    EXPECT_EQ(vellor::select_recipient(&req, 5), 0);  // beyond the last plain entry: the last
    EXPECT_STREQ(req.szRecipient, "c@d.org");
    EXPECT_STREQ(req.szServer, "d.org");
    GlobalFree(req.hRecipients);
    req.hRecipients = make_list("<a@b.com> <c@d.org");
    EXPECT_EQ(vellor::select_recipient(&req, 2), -1);
    EXPECT_EQ(req.nErrorCode, 903);
    GlobalFree(req.hRecipients);
    req.hRecipients = make_list("<nodomain> x");
    EXPECT_EQ(vellor::select_recipient(&req, 1), 0);
    EXPECT_STREQ(req.szRecipient, "nodomain");
    EXPECT_STREQ(req.szServer, "");  // no '@': no domain
    vellor::gmem::fail_nth(vellor::gmem::Op::Lock, 1);
    EXPECT_EQ(vellor::select_recipient(&req, 1), -1);
    EXPECT_EQ(req.nErrorCode, 914);
    EXPECT_EQ(req.lpRecipients, nullptr);
    GlobalFree(req.hRecipients);
}

TEST(RecipientList, BlockWithoutNulIsReadWithinItsSize) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 16);
    std::memcpy(GlobalLock(h), "a@b.com c@d.org!", 16);  // no NUL anywhere
    GlobalUnlock(h);
    SMTPSEND_STRUCTURE req{};
    req.hRecipients = h;
    EXPECT_EQ(vellor::validate_recipient_list(&req, "App"), 1);
    EXPECT_EQ(req.nRecipients, 2);
    EXPECT_EQ(read_all(h), (std::vector<std::string>{"a@b.com", "c@d.org!"}));
    GlobalFree(h);
}

TEST(RecipientList, HundredThousandRecipients) {
    std::string text;
    for (int i = 0; i < 100000; ++i) text += "user" + std::to_string(i) + "@example.org ";
    int count = 0;
    EXPECT_EQ(vellor::parse_recipient_list("App", text, count), 0);
    EXPECT_EQ(count, 100000);
    HGLOBAL h = make_list(text);
    SMTPSEND_STRUCTURE req{};
    req.hRecipients = h;
    EXPECT_EQ(vellor::select_recipient(&req, 99999), 0);
    EXPECT_STREQ(req.szRecipient, "user99998@example.org");
    GlobalFree(h);
}

}  // namespace
