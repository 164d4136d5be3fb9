// The companion's connections over real loopback sockets and its start and
// stop counts.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "platform/winsock.h"
#include "support/test_env.h"
#include "vellorapi.h"

using namespace testenv;
using Clock = std::chrono::steady_clock;

namespace {

// ---- connections ---------------------------------------------------------------

TEST(Connections, SilentServerSpendsTheSocket) {
    TempEnv env;
    ::setenv("KORVEXAPI_TIMEOUT_MS", "300", 1);
    TCPLIBRARY_STRUCTURE block{};
    TCPSESSION_STRUCTURE s{};
    KorvexAPI_Initialize_Structure(&block, &s);
    int port = 0, listener = bind_loopback(SOCK_STREAM, "127.0.0.1", 0, port);
    ::listen(listener, 4);
    std::strcpy(s.szHostAddress, "127.0.0.1");
    s.nPort = static_cast<uint32_t>(port);
    ASSERT_EQ(KorvexAPI_Make_Connection(&block, &s, 0), 0);
    char buf[16];
    auto start = Clock::now();
    EXPECT_EQ(vellor::winsock::recv(s.nSocket, buf, sizeof buf, 0), -1);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(250));
    EXPECT_EQ(vellor::winsock::WSAGetLastError(), 10060);
    start = Clock::now();
    EXPECT_EQ(vellor::winsock::recv(s.nSocket, buf, sizeof buf, 0), -1);  // spent: fails at once
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100));
    KorvexAPI_Close_Socket(&block, &s, 1);
    ::close(listener);
    ::unsetenv("KORVEXAPI_TIMEOUT_MS");
}

TEST(Companion, StartAndStopAreCounted) {
    TCPLIBRARY_STRUCTURE block{};
    EXPECT_EQ(KorvexAPI_Start_Winsock(&block, 2), -1);  // a block never initialised
    KorvexAPI_Initialize_Library(&block, 0, 1, "T");
    EXPECT_EQ(KorvexAPI_Stop_Winsock(&block), -1);  // nothing started yet
    EXPECT_EQ(KorvexAPI_Start_Winsock(&block, 2), 0);
    EXPECT_EQ(KorvexAPI_Start_Winsock(&block, 2), 0);
    EXPECT_EQ(KorvexAPI_Stop_Winsock(&block), 0);
    EXPECT_EQ(KorvexAPI_Stop_Winsock(&block), 0);
    EXPECT_EQ(KorvexAPI_Stop_Winsock(&block), -1);  // more stops than starts
}

}  // namespace
