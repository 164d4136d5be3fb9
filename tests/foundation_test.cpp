// The foundation: global memory, the options file read afresh, the request
// record, library start-up, and the companion's time-out on a real loopback
// socket and its start and stop counts. (Log lines, log options and trimming
// are rows of data/parsers.rows.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <chrono>
#include <thread>
#include <cstring>

#include "platform/file_search.h"
#include "platform/files.h"
#include "platform/global_memory.h"
#include "platform/task_loop.h"
#include "platform/winsock.h"
#include "support/options.h"
#include "support/request_options.h"
#include "support/test_env.h"
#include "transport/connection.h"
#include "vellorapi.h"

using namespace testenv;

namespace {

// ---- global memory ---------------------------------------------------------

TEST(GlobalMemory, ReAllocKeepsContentsAndHandle) {
    HGLOBAL h = make_list("abc");
    // Growing with GMEM_ZEROINIT zeroes what was added, even in memory that
    // held something before (a freed block of the same size, filled first).
    HGLOBAL used = GlobalAlloc(GMEM_FIXED, 65536);
    std::memset(used, 0xAB, 65536);
    GlobalFree(used);
    EXPECT_EQ(GlobalReAlloc(h, 65536, GMEM_MOVEABLE | GMEM_ZEROINIT), h);
    const auto *p = static_cast<const unsigned char *>(GlobalLock(h));
    EXPECT_STREQ(reinterpret_cast<const char *>(p), "abc");
    EXPECT_EQ(std::count(p + 4, p + 65536, 0), 65536 - 4);  // the part this growth added
    GlobalUnlock(h);
    GlobalFree(h);
}

// ---- files -------------------------------------------------------------------

// Names come in order without regard to case (m00000, M00001, m00002, ...),
// the folder found whatever its case, in windows cut while reading and at
// the end.
TEST(FileSearch, QueuesLargerThanTheWindowComeWholeInOrderWhateverTheCase) {
    TempEnv env;
    ::mkdir(env.path("big").c_str(), 0755);
    const int n = 2 * static_cast<int>(vellor::files::Search::kWindow) + 3;
    for (int i = n - 1; i >= 0; --i) {
        char name[16];
        std::snprintf(name, sizeof name, i % 2 ? "M%05d.txt" : "m%05d.txt", i);
        ::close(::open(env.path("big/").append(name).c_str(), O_CREAT | O_WRONLY, 0644));
    }
    vellor::files::Search s;
    ASSERT_TRUE(s.first(env.path("BIG/*.TXT")));
    int seen = 0;
    for (bool more = true; more; more = s.next(), ++seen) {
        ASSERT_EQ(seen < n ? std::atoi(s.name().c_str() + 1) : -1, seen < n ? seen : -1) << s.name();
        if (seen == 10) ::close(::open(env.path("big/zz.txt").c_str(), O_CREAT | O_WRONLY, 0644));
    }
    EXPECT_EQ(seen, n + 1);  // zz.txt, added after the first window was read, sorts last and comes too
    EXPECT_EQ(s.name(), "zz.txt");
    EXPECT_EQ(vellor::files::Search::count(env.path("big/*.txt")), n + 1);
    EXPECT_TRUE(vellor::files::exists(env.path("Big/m00000.TXT")));
    EXPECT_FALSE(vellor::files::exists(env.path("big/e.txt")));
}

TEST(Options, AnEditInPlaceIsSeenAtOnce) {
    TempEnv env;
    // Each version written over the last keeps its inode and size and gets
    // the same modification time, as writes within one tick of a coarse
    // file-system clock do; that time is just ahead, so it is never settled.
    const timespec tick[2] = {{::time(nullptr) + 5, 0}, {::time(nullptr) + 5, 0}};
    for (const char *value : {"00000001", "00000002", "00000001"}) {
        env.registry(std::string("\"SendPercentSent\"=dword:") + value + "\r\n");
        ASSERT_EQ(::utimensat(AT_FDCWD, env.path("registry.reg").c_str(), tick, 0), 0);
        EXPECT_EQ(vellor::options::send_percent_sent({}), value[7] - '0');
    }
}

TEST(Options, ATokenStaysBoundToItsOwnRecordsUser) {
    int ann = 0, bob = 0;  // two records: the store keys each record's options by its address
    std::string why;
    ASSERT_TRUE(vellor::options::set_request_option(&ann, "OAuth2Token", "t1", why, "ann"));
    ASSERT_TRUE(vellor::options::set_request_option(&bob, "OAuth2Token", "t2", why, "bob"));
    EXPECT_TRUE(vellor::options::token_user_agrees(&ann, "ann"));
    EXPECT_FALSE(vellor::options::token_user_agrees(&ann, "bob"));
    EXPECT_TRUE(vellor::options::token_user_agrees(&bob, "bob"));
    vellor::options::forget_record(&ann);
    vellor::options::forget_record(&bob);
}

// ---- request record and error texts ------------------------------------------------

class Record : public ::testing::Test {
protected:
    void SetUp() override { VELLOR_Initialize_Library(&lib, 0, "RecApp"); }
    TempEnv env;
    SMTPINIT_STRUCTURE lib{};
    SMTPSEND_STRUCTURE req{};
};

// The first time over garbage, the second over a record in use: all zero
// but nInitialized, and of the list only a locked one freed.
TEST_F(Record, FirstAndRepeatedInitialisationFreesOnlyALockedList) {
    std::memset(&req, 0x5a, sizeof req);
    req.nInitialized = 0;
    SMTPSEND_STRUCTURE zero{};
    zero.nInitialized = 1;
    EXPECT_EQ(VELLOR_Initialize_Structure(&lib, &req), 0);
    EXPECT_EQ(std::memcmp(&req, &zero, sizeof req), 0);
    HGLOBAL locked = make_list("a@b.c");
    GlobalLock(locked);
    req.hRecipients = locked;
    req.nMessagesSent = 7;
    EXPECT_EQ(VELLOR_Initialize_Structure(&lib, &req), 0);
    EXPECT_EQ(std::memcmp(&req, &zero, sizeof req), 0);
    EXPECT_EQ(GlobalFlags(locked), GMEM_INVALID_HANDLE);  // freed
    HGLOBAL unlocked = make_list("a@b.c");
    req.hRecipients = unlocked;
    VELLOR_Initialize_Structure(&lib, &req);
    EXPECT_EQ(req.hRecipients, nullptr);
    EXPECT_EQ(GlobalSize(unlocked), 6u);  // still the application's
    GlobalFree(unlocked);
}

// ---- start-up and versions -----------------------------------------------------------

// The record filled with both libraries' versions, and no warning: the two
// libraries are one release. An application name of 128 characters or more
// leaves the record uninitialised, and a request record is not prepared with it.
TEST(Lifecycle, InitialiseFillsTheRecordAndNeverCutsTheName) {
    TempEnv env;
    SMTPINIT_STRUCTURE lib;
    std::memset(&lib, 0x77, sizeof lib);
    testing::internal::CaptureStderr();
    VELLOR_Initialize_Library(&lib, 0, "LifeApp");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_STREQ(lib.szApplication, "LifeApp");
    EXPECT_STREQ(lib.szVersion, "2.61.0.30");
    EXPECT_STREQ(lib.szTcpVersion, "2.61.0.30");
    EXPECT_STREQ(lib.szBuild, "060125");
    EXPECT_STREQ(lib.szTcpBuild, "060125");
    EXPECT_EQ(lib.nLibraryCode, 2111);
    EXPECT_EQ(lib.dwStructRevision, 450194u);
    EXPECT_EQ(lib.dwTcpStructRevision, 450194u);
    EXPECT_EQ(lib.bLibraryInitialized, 1);
    EXPECT_EQ(lib.nReserved, 0);
    SMTPINIT_STRUCTURE cut{};  // a name that does not fit is never cut
    VELLOR_Initialize_Library(&cut, 0, std::string(128, 'n').c_str());
    EXPECT_EQ(cut.szApplication[0], '\0');
    EXPECT_EQ(cut.bLibraryInitialized, 0);
    SMTPSEND_STRUCTURE req;  // a record prepared with that library: refused, untouched
    std::memset(&req, 0x33, sizeof req);
    SMTPSEND_STRUCTURE copy = req;
    EXPECT_EQ(VELLOR_Initialize_Structure(&cut, &req), 1);
    EXPECT_EQ(std::memcmp(&req, &copy, sizeof req), 0);
}

TEST(BadInput, FieldsWithoutNulAndNullPointersAreRefused) {
    TempEnv env;
    SMTPSEND_STRUCTURE req;
    std::memset(&req, 'A', sizeof req);
    EXPECT_EQ(VELLOR_Perform_DNS_Lookup("App", &req), -1);  // a server name that fills its field
    VELLOR_Get_Error_Details(nullptr);
    VELLOR_Initialize_Library(nullptr, 0, "x");
    SMTPINIT_STRUCTURE lib{};
    VELLOR_Initialize_Library(&lib, 0, nullptr);
    EXPECT_STREQ(lib.szApplication, "");
    EXPECT_EQ(VELLOR_Initialize_Structure(nullptr, nullptr), 1);
    EXPECT_EQ(VELLOR_Send_Message("x", nullptr, nullptr), -1);
    EXPECT_EQ(VELLOR_Get_Message_Details(nullptr), -1);
    EXPECT_EQ(VELLOR_Perform_DNS_Lookup("x", nullptr), -1);
}

// ---- the companion ------------------------------------------------------------

// A receive from a server that does not answer in time ends with the
// time-out's code, and the connection is spent: a reply that comes late is
// never read as the next step's.
TEST(Connections, ATimedOutWaitSpendsTheConnection) {
    TempEnv env;
    ::setenv("KORVEXAPI_TIMEOUT_MS", "300", 1);
    int port = 0, listener = bind_loopback(SOCK_STREAM, "127.0.0.1", 0, port);
    ::listen(listener, 4);
    vellor::transport::Connection c;
    ASSERT_TRUE(c.start_companion("spent"));
    ASSERT_TRUE(c.set_target("127.0.0.1", port));
    ASSERT_TRUE(c.connect(0));
    int peer = ::accept(listener, nullptr, nullptr);
    char buf[16];
    EXPECT_EQ(c.receive(buf, sizeof buf, c.step_deadline(), true), -1);
    EXPECT_EQ(c.last_error(), 10060);
    ASSERT_EQ(::send(peer, "250 late\r\n", 10, 0), 10);
    EXPECT_EQ(c.receive(buf, sizeof buf, c.step_deadline(), true), -1);
    EXPECT_EQ(c.last_error(), 10060);
    c.close_socket();
    c.stop_companion("spent");
    ::close(peer);
    ::close(listener);
    ::unsetenv("KORVEXAPI_TIMEOUT_MS");
}

// ---- a loop of tasks -------------------------------------------------------------

// A connection that is a loop's task gives the thread to the other tasks
// while it connects, while it waits for a reply and while its socket has no
// room: here the reply comes from, and the bytes go to, another task of the
// same thread. A wait that runs out still spends the connection.
TEST(Connections, OnALoopAConnectionWaitsWithoutHoldingTheThreadAndATimeOutStillSpendsIt) {
    TempEnv env;
    ::setenv("KORVEXAPI_TIMEOUT_MS", "300", 1);
    int port = 0, listener = bind_loopback(SOCK_STREAM, "127.0.0.1", 0, port);
    ::listen(listener, 4);
    int idle[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, idle), 0);
    vellor::platform::TaskLoop loop;
    int peer = -1, got = 0, late = 0, code = 0;
    long read = 0;
    std::string greeting;
    ASSERT_TRUE(loop.add([&] {
        vellor::transport::Connection c;
        c.run_on(&loop);
        ASSERT_TRUE(c.start_companion("loop"));
        ASSERT_TRUE(c.set_target("127.0.0.1", port));
        ASSERT_TRUE(c.connect(0));
        char buf[16];
        got = c.receive(buf, sizeof buf, c.step_deadline() + std::chrono::seconds(5), true);
        greeting.assign(buf, got > 0 ? got : 0);
        int small = 16384;  // far less than the bytes below: the sends wait for room
        ::setsockopt(static_cast<int>(c.socket()), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        std::string bulk(2 << 20, 'x');
        for (std::size_t at = 0; at < bulk.size();) {
            int n = c.send(bulk.data() + at, bulk.size() - at, false);
            ASSERT_GT(n, 0);
            at += static_cast<std::size_t>(n);
        }
        EXPECT_EQ(c.receive(buf, sizeof buf, c.step_deadline()), -1);  // nothing more: the wait runs out
        EXPECT_EQ(c.last_error(), 10060);
        ASSERT_EQ(::send(peer, "250 late\r\n", 10, 0), 10);
        late = c.receive(buf, sizeof buf, c.step_deadline());
        code = c.last_error();
        c.close_socket();
        c.stop_companion("loop");
    }));
    ASSERT_TRUE(loop.add([&] {
        peer = ::accept(listener, nullptr, nullptr);
        EXPECT_FALSE(loop.wait_socket(idle[0], false, 50));  // the other task is waiting meanwhile
        ASSERT_EQ(::send(peer, "220 hi\r\n", 8, 0), 8);
        char chunk[65536];
        while (read < (2 << 20) && loop.wait_socket(peer, false, 5000)) {
            ssize_t n = ::recv(peer, chunk, sizeof chunk, MSG_DONTWAIT);
            if (n <= 0) break;
            read += n;
        }
    }));
    ASSERT_TRUE(loop.run([] {}));
    EXPECT_EQ(greeting, "220 hi\r\n");
    EXPECT_EQ(read, 2 << 20);
    EXPECT_EQ(late, -1);
    EXPECT_EQ(code, 10060);
    for (int fd : {peer, listener, idle[0], idle[1]}) ::close(fd);
    ::unsetenv("KORVEXAPI_TIMEOUT_MS");
}

// A task waiting for a wake goes on at another task's wake(), and one that
// nothing can wake any more is let go rather than left waiting; a call run
// aside runs while the other tasks go on; the caller's hook runs between
// turns, outside every task.
TEST(TaskLoop, WakesGoOnAtAWakeOrWhenNothingCanWakeAndACallAsideLeavesTheOthersRunning) {
    vellor::platform::TaskLoop loop;
    std::string order;
    std::atomic<bool> flag{false};
    bool seen_aside = false, hook_outside = true;
    ASSERT_TRUE(loop.add([&] {
        loop.wait_wake();
        order += "a";
        loop.wait_wake();  // no task is left to wake it
        order += "A";
    }));
    ASSERT_TRUE(loop.add([&] {
        loop.aside([&] {
            for (int i = 0; i < 5000 && !flag.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            seen_aside = flag.load();
        });
        EXPECT_THROW(loop.aside([] { throw std::runtime_error("aside"); }), std::runtime_error);  // not on its thread
        order += "b";
        loop.wake();
    }));
    ASSERT_TRUE(loop.add([&] { flag = true; }));
    ASSERT_TRUE(loop.run([&] { hook_outside = hook_outside && !loop.in_task(); }));
    EXPECT_EQ(order, "baA");
    EXPECT_TRUE(seen_aside);
    EXPECT_TRUE(hook_outside);
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
