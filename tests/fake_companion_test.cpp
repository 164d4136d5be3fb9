// Start-up warnings and the send entry, against a fake companion that
// records every call: the release and revision checks, the companion's
// start and stop on every path.
#include <gtest/gtest.h>

#include <cstring>

#include "fakes/fake_korvex.h"
#include "support/test_env.h"
#include "vellorapi.h"

using namespace testenv;

namespace {

// Which start-up warnings a companion of this version, build and structure
// revision gets: "release", "revision", both or none.
std::string warnings(const char *version, const char *build, uint32_t revision) {
    TempEnv env;
    fake::korvex() = {version, build, revision, 0, {}};  // starts, no calls yet
    SMTPINIT_STRUCTURE lib{};
    testing::internal::CaptureStderr();
    VELLOR_Initialize_Library(&lib, 0, "W");
    std::string err = testing::internal::GetCapturedStderr(), out;
    EXPECT_EQ(lib.bLibraryInitialized, 1);
    if (err.find("are not the same") != std::string::npos) out += "release";
    if (err.find("different strucutre revision") != std::string::npos) out += out.empty() ? "revision" : " revision";
    return out.empty() && !err.empty() ? err : out;
}

TEST(StartupWarnings, ReleaseAndRevisionChecks) {
    EXPECT_EQ(warnings("2.61.0.30", "060125", 450194), "");
    EXPECT_EQ(warnings("2.61.0.30", "060126", 450194), "release");
    EXPECT_EQ(warnings("2.61.0.31", "060125", 450194), "release");
    EXPECT_EQ(warnings("2.61.0.30", "060125", 450195), "revision");
    EXPECT_EQ(warnings("2.60.0.0", "1", 1), "release revision");
}

// ---- the send entry ---------------------------------------------------------

class SendEntry : public ::testing::Test {
protected:
    void SetUp() override {
        fake::korvex() = {};
        std::strcpy(req.szSender, "sender@example.test");
    }
    TempEnv env;
    SMTPSEND_STRUCTURE req{};
};

// The companion is started once per send and, once started, stopped once
// whatever happens; a start that fails closes it without a stop.
TEST_F(SendEntry, StartFailureClosesOnceAndNeverStops) {
    fake::korvex().start_result = -1;
    std::strcpy(req.szServer, "relay");
    EXPECT_EQ(VELLOR_Send_Message("App", &req, record_status), -1);
    EXPECT_EQ(req.nErrorCode, 918);
    EXPECT_EQ(reports().back().code, 918);
    EXPECT_EQ(fake::korvex().calls, (std::vector<std::string>{"Initialize_Library", "Initialize_Structure",
                                                              "Start_Winsock", "Closedown_Library"}));
}

TEST_F(SendEntry, FailedConnectionsStillStopOnce) {
    write_file(env.path("m.txt"), "body");
    std::strcpy(req.szMessageFile, env.path("m.txt").c_str());
    std::strcpy(req.szServerIP, "127.0.0.1");
    std::strcpy(req.szRecipient, "to@x.test");
    req.bSingleRecipient = 1;
    EXPECT_EQ(VELLOR_Send_Message("App", &req, record_status), -1);
    EXPECT_EQ(req.nErrorCode, 907);
    EXPECT_EQ(fake::korvex().calls,
              (std::vector<std::string>{"Initialize_Library", "Initialize_Structure", "Start_Winsock",
                                        "Make_Connection", "Stop_Winsock", "Closedown_Library"}));
}

}  // namespace
