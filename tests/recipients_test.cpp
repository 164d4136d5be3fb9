// A recipient list block the application filled to its last byte, without
// a NUL: validated and read within the block's size. (The list's texts are
// rows of data/parsers.rows, its logs and faults cases of data/relay.cases.)
#include <gtest/gtest.h>

#include <cstring>

#include "platform/global_memory.h"
#include "msgfiles/recipients.h"
#include "support/test_env.h"

using namespace testenv;

namespace {

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

}  // namespace
