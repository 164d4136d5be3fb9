// Start-up warnings and the send entry, against a fake companion that
// counts every call: the release and revision checks, the refusals in their
// order, the companion's start and stop on every path.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>

#include "fakes/fake_korvex.h"
#include "submit/delivery.h"
#include "support/test_env.h"
#include "vellorapi.h"

using namespace testenv;

namespace {

const std::string kRelease =
    "Vellor_API Developers library - *** WARNING ***: Orvane products use a set of specially designed libraries (DLL "
    "files) that provide low level TCP/IP, SMTP, POP3 and other protocol support to them.  The versions of the "
    "Vellor_API library and the Korvex_API library you are running are not the same, which may cause problems.  We "
    "recommend that you check the DLL's and ensure that you have the same releases  Updated copies should be "
    "available from Orvane (www.orvane.com)\n";
const std::string kRevision =
    "Vellor_API Developers library - *** WARNING ***: The structures in the TCP and SMTP libraries are using a "
    "different strucutre revision. This may cause significant problems or possibly failures when used together.  We "
    "recommend that you check to ensure that you have the same library releases...\n";

TEST(StartupWarnings, ReleaseAndRevisionChecks) {
    struct Case {
        const char *version, *build;
        uint32_t revision;
        std::string expected;
    } cases[] = {
        {"2.61.0.30", "060125", 450194, ""},        {"2.61.0.30", "060125", 450194, ""},
        {"2.61.0.30", "060126", 450194, kRelease},  {"2.61.0.31", "060125", 450194, kRelease},
        {"2.61.0.30", "060125", 450195, kRevision}, {"2.60.0.0", "1", 1, kRelease + kRevision},
    };
    for (const auto &c : cases) {
        TempEnv env;
        fake::korvex().reset();
        fake::korvex().version = c.version;
        fake::korvex().build = c.build;
        fake::korvex().revision = c.revision;
        SMTPINIT_STRUCTURE lib{};
        testing::internal::CaptureStderr();
        VELLOR_Initialize_Library(&lib, 0, "W");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.expected) << c.version << " " << c.build;
        EXPECT_EQ(lib.bLibraryInitialized, 1);
    }
}

// ---- the send entry ---------------------------------------------------------

class SendEntry : public ::testing::Test {
protected:
    void SetUp() override {
        fake::korvex().reset();
        std::strcpy(req.szSender, "sender@example.test");
    }
    int send() { return VELLOR_Send_Message("App", &req, record_status); }

    TempEnv env;
    SMTPSEND_STRUCTURE req{};
};

TEST_F(SendEntry, CompanionCallsAndTheirLogLines) {
    std::strcpy(req.szRecipient, "to@example.test");
    std::strcpy(req.szServer, "relay.test");  // a relay with nothing flagged to send: no procedure runs
    EXPECT_EQ(send(), 0);
    auto log = env.log_texts();
    EXPECT_EQ(std::vector<std::string>(log.end() - 6, log.end()),
              (std::vector<std::string>{
                  "VellorAPI [App] - Single recipients address validated successfully...",
                  "VellorAPI [App] - Initializing Winsock Library ready to send mail...",
                  "VellorAPI [App] - Initializing Winsock Structure ready to send mail...",
                  "VellorAPI [App] - Starting a new Winsock session - WSAStartup()...",
                  "VellorAPI [App] - Winsock session - WSACleanup() - terminated correctly...",
                  "VellorAPI [App] - Winsock Library closedown correctly...",
              }));
    EXPECT_EQ(fake::korvex().calls, (std::vector<std::string>{"Initialize_Library", "Initialize_Structure",
                                                              "Start_Winsock", "Stop_Winsock", "Closedown_Library"}));
}

TEST_F(SendEntry, StartFailureClosesOnceAndNeverStops) {
    fake::korvex().start_result = -1;
    std::strcpy(req.szServer, "relay");
    EXPECT_EQ(send(), -1);
    EXPECT_EQ(req.nErrorCode, 918);
    const Report &r = reports().back();
    EXPECT_EQ(std::to_string(r.status) + " " + std::to_string(r.code) + " " + r.text,
              "920 918 VellorAPI [App] - Failed to start winsock session for [App]");
    EXPECT_EQ(fake::korvex().count("Closedown_Library"), 1);
    EXPECT_EQ(fake::korvex().count("Stop_Winsock"), 0);
    EXPECT_EQ(fake::korvex().count("Make_Connection"), 0);
}

TEST_F(SendEntry, FailedConnectionsStillStopOnce) {
    write_file(env.path("m.txt"), "body");
    std::strcpy(req.szMessageFile, env.path("m.txt").c_str());
    std::strcpy(req.szServerIP, "127.0.0.1");
    std::strcpy(req.szRecipient, "to@x.test");
    req.bSingleRecipient = 1;
    EXPECT_EQ(send(), -1);
    EXPECT_EQ(req.nErrorCode, 907);
    EXPECT_EQ(fake::korvex().count("Make_Connection"), 1);
    EXPECT_EQ(fake::korvex().count("Stop_Winsock"), 1);
    EXPECT_EQ(fake::korvex().count("Closedown_Library"), 1);
}

}  // namespace
