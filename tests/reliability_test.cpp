// No message lost, cut, misdirected or stuck, where a case needs more than
// a transcript row (data/reliability.cases holds those): the companion's
// eight addresses, signals, two threads, three senders sharing one queue
// (one of them killed), one queue over several connections.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <thread>

#include "support/dns_fixture.h"
#include "support/script_peer.h"
#include "support/test_env.h"
#include "vellorapi.h"

using namespace testenv;

namespace {

class Reliability : public ::testing::Test {
public:
    void SetUp() override {
        ::setenv("KORVEXAPI_TIMEOUT_MS", "2000", 1);
        SMTPINIT_STRUCTURE lib{};
        VELLOR_Initialize_Library(&lib, 0, "App");
        VELLOR_Initialize_Structure(&lib, &req);
        std::strcpy(req.szSender, "sender@origin.test");
        std::strcpy(req.szServerIP, "127.0.0.1");
        req.nPort = port;
    }
    void TearDown() override { ::unsetenv("KORVEXAPI_TIMEOUT_MS"); }

    TempEnv env;
    int port = free_port("127.0.0.1");
    SMTPSEND_STRUCTURE req{};
};

TEST_F(Reliability, CompanionTriesEightAddressesAndNeverGivesSocketZero) {
    ScriptedDns dns;
    DnsServerEnv point(dns.port());
    dns.a("mx.eight.test",
          {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.6", "127.0.0.7", "127.0.0.8", "127.0.0.9"});
    ScriptPeer eighth(smtp_accepting(), "127.0.0.9", port);
    // The companion connecting to the host name tries all eight too, and a
    // socket never gets the number 0, even with standard input closed.
    int saved_stdin = ::dup(0);
    ::close(0);
    TCPLIBRARY_STRUCTURE block{};
    TCPSESSION_STRUCTURE session{};
    KorvexAPI_Initialize_Library(&block, 0, 1, "T");
    std::strcpy(session.szHostAddress, "mx.eight.test");
    session.nPort = static_cast<uint32_t>(port);
    int rc = KorvexAPI_Make_Connection(&block, &session, 0);
    ::dup2(saved_stdin, 0);
    ::close(saved_stdin);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(session.nAddresses, 8);
    EXPECT_NE(session.nSocket, 0u);
    EXPECT_EQ(KorvexAPI_Close_Socket(&block, &session, 1), 0);
    EXPECT_EQ(session.nSocket, 0u);
}

// ---- whole bodies ------------------------------------------------------------------

void on_alarm(int) {}

TEST_F(Reliability, SignalsDuringASendCutNothing) {
    // The peer reads nothing for a while after 354, so the body's sends wait
    // on a full socket and the signals interrupt them before a byte moved;
    // then it waits before its replies, so the receives are interrupted too.
    Script script = Script().say("220 hi\r\n").line().say("250 hello\r\n").line().say("250 ok\r\n").line();
    script.say("250 ok\r\n").line().say("354 go\r\n").pause(300).data().pause(100).say("250 queued\r\n");
    ScriptPeer peer(script.line().pause(100).say("221 bye\r\n"), "127.0.0.1", port);
    struct sigaction sa {};
    sa.sa_handler = on_alarm;  // no SA_RESTART: system calls return early
    ::sigaction(SIGALRM, &sa, nullptr);
    itimerval every{{0, 20000}, {0, 20000}};
    std::string body;
    for (int i = 0; body.size() < (20u << 20); ++i) body += "line " + std::to_string(i) + " of a long message\r\n";
    write_file(env.path("m.txt"), body);
    std::strcpy(req.szMessageFile, env.path("m.txt").c_str());
    req.bSingleRecipient = 1;
    std::strcpy(req.szRecipient, "r@dest.test");
    ::setitimer(ITIMER_REAL, &every, nullptr);
    int rc = VELLOR_Send_Message("App", &req, record_status);
    itimerval off{};
    ::setitimer(ITIMER_REAL, &off, nullptr);
    ::signal(SIGALRM, SIG_DFL);
    EXPECT_EQ(rc, 0);
    EXPECT_NE(peer.transcript().find("DATA\r\n" + body + "\r\n.\r\nQUIT"), std::string::npos);
}

// ---- threads ------------------------------------------------------------------------

TEST_F(Reliability, TwoThreadsSendAtOnce) {
    ScriptPeer first(smtp_accepting(), "127.0.0.1", port, 20);
    int other_port = free_port("127.0.0.1");
    ScriptPeer second(smtp_accepting(), "127.0.0.1", other_port, 20);
    write_file(env.path("m.txt"), "Subject: threads\r\n\r\nx\r\n");
    std::strcpy(req.szMessageFile, env.path("m.txt").c_str());
    // Each record carries its own log file option: no line of one goes to the other's.
    auto worker = [&](int p, int *ok) {
        SMTPSEND_STRUCTURE r = req;
        r.nPort = p;
        r.bSingleRecipient = 1;
        std::strcpy(r.szRecipient, "r@dest.test");
        std::string app = "App" + std::to_string(p);
        EXPECT_EQ(VELLOR_Set_Request_Option(&r, "LogFile", env.path(app + ".log").c_str()), 0);
        for (int i = 0; i < 20; ++i) *ok += VELLOR_Send_Message(app.c_str(), &r, nullptr) == 0;
    };
    int ok1 = 0, ok2 = 0;
    std::thread a(worker, port, &ok1), b(worker, other_port, &ok2);
    a.join();
    b.join();
    EXPECT_EQ(ok1, 20);
    EXPECT_EQ(ok2, 20);
    EXPECT_EQ(first.accepted() + second.accepted(), 40);
    for (int p : {port, other_port}) {
        std::string own = read_file(env.path("App" + std::to_string(p) + ".log"));
        std::string other = "[App" + std::to_string(p == port ? other_port : port) + "]";
        EXPECT_NE(own.find("[App" + std::to_string(p) + "]"), std::string::npos);
        EXPECT_EQ(own.find(other), std::string::npos);
    }
}

// Two threads send to one relay with KeepConnection: a kept session serves
// one call at a time (a call meanwhile connects on its own), so no dialogue
// is interleaved and the capture server (aiosmtpd) stores every message whole.
TEST_F(Reliability, TwoThreadsOnOneKeptSessionNeverInterleave) {
    std::string root = env.path("capture"), body[2];
    for (int i = 0; i < 100; ++i) body[0] += std::string(60, 'a') + "\r\n", body[1] += std::string(60, 'b') + "\r\n";
    Process server({"/usr/bin/python3", std::string(VELLOR_TEST_SERVERS_DIR) + "/capture_smtpd.py", "127.0.0.1",
                    std::to_string(port), root},
                   root + ".log");
    ASSERT_TRUE(wait_until([&] { return file_exists(root + "/ready"); }, std::chrono::milliseconds(15000)));
    req.bSingleRecipient = 1;
    std::strcpy(req.szRecipient, "r@dest.test");
    auto send = [&](int which, int times) {
        SMTPSEND_STRUCTURE r = req;
        std::string file = env.path("m" + std::to_string(which) + ".txt");
        write_file(file, "Subject: kept\r\n\r\n" + body[which]);
        std::strcpy(r.szMessageFile, file.c_str());
        EXPECT_EQ(VELLOR_Set_Request_Option(&r, "KeepConnection", "30"), 0);
        for (int i = 0; i < times; ++i) EXPECT_EQ(VELLOR_Send_Message("App", &r, nullptr), 0);
    };
    send(0, 1);  // a session kept for both threads to contend for
    std::thread a(send, 0, 10), b(send, 1, 10);
    a.join();
    b.join();
    int whole = 0;
    std::error_code none;
    for (const auto &e : std::filesystem::directory_iterator(root + "/Maildir/new", none))
        whole += e.path().extension() != ".json" && (read_file(e.path()).find(body[0]) != std::string::npos ||
                                                     read_file(e.path()).find(body[1]) != std::string::npos);
    EXPECT_EQ(whole, 21);
    SMTPINIT_STRUCTURE lib{};
    VELLOR_Closedown_Library(&lib, "App");
}

// Options stay with the record they were set on: a byte copy of a record that requires STARTTLS went in
// the clear, its login too. Such a copy is refused (907) before any connection.
TEST_F(Reliability, ACopyOfARecordCarryingItsOwnOptionsIsRefusedBeforeConnecting) {
    ScriptPeer peer(smtp_accepting(), "127.0.0.1", port);
    write_file(env.path("m.txt"), "Subject: copy\r\n\r\nx\r\n");
    std::strcpy(req.szMessageFile, env.path("m.txt").c_str());
    std::strcpy(req.szRecipient, "r@dest.test");
    req.bSingleRecipient = 1;
    ASSERT_EQ(VELLOR_Set_Request_Option(&req, "SecureConnection", "1"), 0);
    SMTPSEND_STRUCTURE copy = req;
    EXPECT_EQ(VELLOR_Send_Message("App", &copy, nullptr), -1);
    EXPECT_EQ(copy.nErrorCode, 907);
    EXPECT_EQ(peer.accepted(), 0);
}

// ---- one queue, several senders ----------------------------------------------------------

// A 300-file queue (Subject: N) and the capture server (aiosmtpd) that stores
// what it accepts; senders are forked processes running one queue pass each.
class SharedQueue : public Reliability {
public:
    static constexpr int kFiles = 300;
    void SetUp() override {
        Reliability::SetUp();
        ::mkdir(queue.c_str(), 0755);
        for (int i = 0; i < kFiles; ++i)
            write_file(queue + "/m" + std::to_string(1000 + i) + ".txt",
                       "Subject: " + std::to_string(i) + "\r\n\r\nx\r\n");
        req.bSingleRecipient = 1;
        std::strcpy(req.szRecipient, "r@dest.test");
        req.bDeleteMessage = 1;
        req.nMaxMessages = 1000;
        std::strcpy(req.szMessageFile, queue.c_str());
        server = Process({"/usr/bin/python3", std::string(VELLOR_TEST_SERVERS_DIR) + "/capture_smtpd.py", "127.0.0.1",
                          std::to_string(port), root},
                         root + ".log");
        ASSERT_TRUE(wait_until([&] { return file_exists(root + "/ready"); }, std::chrono::milliseconds(15000)));
    }
    // A pass over `connections` at once (the record's QueueConnections).
    void connections(int n) {
        ASSERT_EQ(VELLOR_Set_Request_Option(&req, "QueueConnections", std::to_string(n).c_str()), 0);
        ASSERT_EQ(VELLOR_Set_Request_Option(&req, "MsgExtension", "txt"), 0);  // counted: a batch per connection
    }
    pid_t start_sender() {
        pid_t child = ::fork();
        if (child == 0) {
            ::alarm(60);  // bounded, whatever happens
            VELLOR_Send_Message("App", &req, nullptr);
            ::_exit(0);
        }
        return child;
    }
    // How many messages the server stored, each checked stored once
    // (unless `twice_ok`: a sender was killed).
    int stored(bool twice_ok = false) const {
        std::map<int, int> count;
        std::error_code none;
        for (const auto &e : std::filesystem::directory_iterator(root + "/Maildir/new", none)) {
            std::string text = read_file(e.path());
            if (text.rfind("Subject: ", 0) == 0) count[std::stoi(text.substr(9))] += 1;
        }
        for (const auto &[subject, times] : count) EXPECT_TRUE(twice_ok || times == 1) << subject << " stored twice";
        return static_cast<int>(count.size());
    }
    int queued() const {
        std::error_code none;
        auto entries = std::filesystem::directory_iterator(queue, none);
        return static_cast<int>(std::distance(begin(entries), end(entries)));
    }

    std::string queue = env.path("shared"), root = env.path("capture");
    Process server;
};

TEST_F(SharedQueue, ThreeSendersSendEachMessageOnce) {
    std::vector<pid_t> senders = {start_sender(), start_sender(), start_sender()};
    for (pid_t p : senders) ::waitpid(p, nullptr, 0);
    EXPECT_EQ(stored(), kFiles);
    EXPECT_EQ(queued(), 0);
}

TEST_F(SharedQueue, ASenderKilledMidRunLosesNothing) {
    connections(4);  // each sender over four connections
    std::vector<pid_t> senders = {start_sender(), start_sender(), start_sender()};
    ASSERT_TRUE(wait_until([&] { return stored(true) >= 30; }, std::chrono::milliseconds(20000)));
    ::kill(senders[1], SIGKILL);
    for (pid_t p : senders) ::waitpid(p, nullptr, 0);
    ::waitpid(start_sender(), nullptr, 0);  // one more pass takes up what the killed one held
    EXPECT_EQ(stored(true), kFiles);
    EXPECT_EQ(queued(), 0);
}

// ---- one queue over several connections ---------------------------------------------------

// What the callback saw: the thread it ran on, and each report with the
// message file the record showed then. From the report numbered
// g_cancel_from on (0: never) it asks the send to stop.
struct Seen {
    std::thread::id thread;
    std::string file, text;
};
std::vector<Seen> g_seen;
std::size_t g_cancel_from = 0;

int32_t VELLOR_CALLBACK note_report(SMTPSEND_STRUCTURE *r, int32_t, const char *text, int32_t) {
    g_seen.push_back({std::this_thread::get_id(), r->szMessageFile, text});
    return g_cancel_from != 0 && g_seen.size() >= g_cancel_from;
}

TEST_F(SharedQueue, FourConnectionsSendEachMessageOnceReportingInOrderOnTheCallingThread) {
    connections(4);
    g_seen.clear();
    EXPECT_EQ(VELLOR_Send_Message("App", &req, note_report), 0);
    EXPECT_EQ(req.nMessagesSent, kFiles);
    EXPECT_EQ(stored(), kFiles);
    EXPECT_EQ(queued(), 0);
    std::string events = read_file(root + "/events.jsonl");
    int greetings = 0;
    for (std::size_t at = 0; (at = events.find("\"helo\"", at)) != std::string::npos; ++at) ++greetings;
    EXPECT_GT(greetings, 1);  // a batch on each connection
    EXPECT_LE(greetings, 4);
    // Each message's reports, as the record showed it: handed over,
    // accepted, deleted, in this order, every one on this thread.
    std::map<std::string, std::string> steps;
    for (const Seen &seen : g_seen) {
        EXPECT_EQ(seen.thread, std::this_thread::get_id());
        for (const char *step : {"to all recipents", "sucessfully", "deleted from"})
            if (seen.text.find(step) != std::string::npos) steps[seen.file] += step[0];
    }
    for (int i = 0; i < kFiles; ++i) EXPECT_EQ(steps[queue + "/m" + std::to_string(1000 + i) + ".txt"], "tsd") << i;
}

TEST_F(SharedQueue, AConnectionItsServerDropsLosesNothingAndTheNextPassSendsIt) {
    write_file(queue + "/m1005.txt", "Subject: 5\r\n\r\nDROP-ME\r\n");
    connections(4);
    VELLOR_Send_Message("App", &req, nullptr);
    EXPECT_NE(read_file(root + "/events.jsonl").find("dropped"), std::string::npos);
    EXPECT_TRUE(file_exists(queue + "/m1005.txt"));
    EXPECT_EQ(stored() + queued(), kFiles);
    std::strcpy(req.szMessageFile, queue.c_str());  // the record shows the last message sent
    VELLOR_Send_Message("App", &req, nullptr);
    EXPECT_EQ(stored(), kFiles);
    EXPECT_EQ(queued(), 0);
}

TEST_F(SharedQueue, TheCallbacksStopReachesEveryConnection) {
    connections(4);
    g_seen.clear();
    g_cancel_from = 40;
    VELLOR_Send_Message("App", &req, note_report);
    g_cancel_from = 0;
    EXPECT_EQ(req.nMessagesSent, stored());
    EXPECT_GT(queued(), kFiles / 2);  // the connections took no more messages
    EXPECT_EQ(stored() + queued(), kFiles);
}

}  // namespace
