// The address check and the recipient list: validation, sequential reading
// and picking by number, in both list forms.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/global_memory.h"
#include "msgfiles/recipients.h"
#include "support/test_env.h"

using namespace testenv;

namespace {

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
