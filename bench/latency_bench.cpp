// Round trips, not the processor, set the pace against a relay 20-100 ms
// away. Every sender here goes through bench/delay_proxy (each direction
// delayed by half of RTT_MS, 40 ms unless given) to Postfix's smtp-sink on
// loopback, with 1 KiB messages, medians of interleaved rounds, msg/s:
//  - smtp-source -s 1 -d and -s 4 -d, Python's smtplib: the peers;
//  - the library's queue over one connection: its default (lockstep),
//    Pipelining (target >= 3.5x smtp-source -s 1), Chunking with Pipelining
//    to the read-and-discard sink offering both (target >= 10x smtp-source
//    -s 1; smtp-sink has no CHUNKING), and QueueConnections 4
//    with Pipelining (target >= 3.5x smtp-source -s 4 -d);
//  - 30 separate calls of one message each, as they are, with
//    KeepConnection (target >= 1.4x them), with KeepConnection and
//    Pipelining (target >= 3x them), and with Pipelining alone (each new
//    connection pays the TCP handshake the proxy models);
//  - 30 separate calls with STARTTLS and a login, to the discard sink
//    offering both: without resumption (the sink gives no session to
//    resume), with resumption (each call resumes the last one's TLS
//    session), and with KeepConnection (one session for all): figures only.
// Targets for a default >= 0.9x smtp-source -s 1.
// Usage: latency_bench [RTT_MS] [ROUNDS]
#include <signal.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_run.h"

using namespace bench;

namespace {

pid_t start_proxy(int listen, int target, int rtt) {
    pid_t pid = fork();
    if (pid == 0) {
        std::string l = std::to_string(listen), t = std::to_string(target), r = std::to_string(rtt);
        execl((g_bin + "/delay_proxy").c_str(), "delay_proxy", l.c_str(), t.c_str(), r.c_str(),
              static_cast<char *>(nullptr));
        _exit(127);
    }
    usleep(200000);
    return pid;
}

struct Row {
    const char *name;
    int messages;
    std::string cmd;
    std::vector<double> rates;
};

void stop(pid_t pid) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

}  // namespace

int main(int argc, char **argv) {
    std::string self = argv[0];
    g_bin = self.substr(0, self.rfind('/'));
    char tmpl[] = "/tmp/vellor-latencybench-XXXXXX";
    g_dir = mkdtemp(tmpl);
    setenv("VELLORAPI_SYSTEM_DIR", g_dir.c_str(), 1);  // the log file stays on
    const int rtt = argc > 1 ? atoi(argv[1]) : 40;
    const int rounds = argc > 2 ? atoi(argv[2]) : 3;
    int port = 20000 + getpid() % 20000;
    pid_t sink = start_smtp_sink(port, true);
    pid_t proxy = start_proxy(port + 1, port, rtt);
    setenv("SINK_CHUNKING", "1", 1);
    pid_t csink = start_discard_sink(port + 2, rounds);
    unsetenv("SINK_CHUNKING");
    pid_t cproxy = start_proxy(port + 3, port + 2, rtt);
    std::string certs = g_dir + "/certs";
    if (mkdir(certs.c_str(), 0700) != 0 || system(("bash " VELLOR_CERTS_SCRIPT " " + certs).c_str()) != 0) return 1;
    setenv("SINK_STARTTLS", "1", 1);
    pid_t tsink = start_discard_sink(port + 4, 1000, certs);
    setenv("SINK_NO_TICKETS", "1", 1);
    pid_t nsink = start_discard_sink(port + 6, 1000, certs);
    unsetenv("SINK_NO_TICKETS");
    unsetenv("SINK_STARTTLS");
    pid_t tproxy = start_proxy(port + 5, port + 4, rtt), nproxy = start_proxy(port + 7, port + 6, rtt);
    const std::string p = std::to_string(port + 1);
    std::string q30 = make_queue(30), q120 = make_queue(120), q240 = make_queue(240), q480 = make_queue(480);
    std::string lockstep = registry("lockstep.reg", ""),
                pipelined = registry("pipelined.reg", "\"Pipelining\"=dword:00000001\r\n"),
                chunked = registry("chunked.reg", "\"Pipelining\"=dword:00000001\r\n\"Chunking\"=dword:00000001\r\n"),
                kept = registry("kept.reg", "\"KeepConnection\"=dword:0000001e\r\n"),
                kept_pipelined =
                    registry("keptpipe.reg", "\"KeepConnection\"=dword:0000001e\r\n\"Pipelining\"=dword:00000001\r\n");
    const std::string tls = "\"SecureConnection\"=dword:00000001\r\n\"TLSCAFile\"=\"" + certs + "/ca.pem\"\r\n";
    std::string secure = registry("secure.reg", tls),
                secure_kept = registry("securekept.reg", tls + "\"KeepConnection\"=dword:0000001e\r\n");
    const std::string login = "env BENCH_LOGIN=bench:secret ";
    const std::string source = "smtp-source -d -m %d -l 1024 -f bench@example.org -t sink@example.org ";
    auto src = [&](int s, int m) {
        char cmd[256];
        snprintf(cmd, sizeof cmd, source.c_str(), m);
        return std::string(cmd) + "-s " + std::to_string(s) + " 127.0.0.1:" + p;
    };
    std::vector<Row> rows = {
        {"smtp-source -s 1 -d", 30, src(1, 30), {}},
        {"smtp-source -s 4 -d", 120, src(4, 120), {}},
        {"python smtplib",
         30,
         "/usr/bin/python3 " + std::string(VELLOR_BENCH_DIR) + "/smtplib_sender.py 127.0.0.1 " + p + " " + q30 +
             "/m0000.txt 30",
         {}},
        {"library default", 30, library(lockstep, q30, port + 1, 30), {}},
        {"library Pipelining", 120, library(pipelined, q120, port + 1, 120), {}},
        {"library Chunking+Pipelining (sink)", 480, library(chunked, q480, port + 3, 480), {}},
        {"library 4 connections, Pipelining", 240, library(pipelined, q240, port + 1, 240, " 4"), {}},
        {"library 30 calls", 30, library(lockstep, q30, port + 1, 30, " 1 calls"), {}},
        {"library 30 calls, KeepConnection", 30, library(kept, q30, port + 1, 30, " 1 calls"), {}},
        {"library 30 calls, Keep+Pipelining", 30, library(kept_pipelined, q30, port + 1, 30, " 1 calls"), {}},
        {"library 30 calls, Pipelining", 30, library(pipelined, q30, port + 1, 30, " 1 calls"), {}},
        {"30 calls, STARTTLS+login", 30, login + library(secure, q30, port + 7, 30, " 1 calls"), {}},
        {"30 calls, STARTTLS+login, resumed", 30, login + library(secure, q30, port + 5, 30, " 1 calls"), {}},
        {"30 calls, STARTTLS+login, KeepConnection",
         30,
         login + library(secure_kept, q30, port + 5, 30, " 1 calls"),
         {}},
    };
    for (int r = 0; r < rounds; ++r)
        for (Row &row : rows) row.rates.push_back(row.messages / timed(row.cmd));
    auto rate = [&](int i) { return median(rows[static_cast<std::size_t>(i)].rates); };
    printf("latency: 1 KiB messages through a proxy of %d ms round trip to smtp-sink, msg/s, median of %d rounds\n",
           rtt, rounds);
    for (const Row &row : rows) printf("   %-36s %7.1f\n", row.name, median(row.rates));
    printf("   library default / smtp-source -s 1             %.2f (target >= 0.90)\n", rate(3) / rate(0));
    printf("   Pipelining / smtp-source -s 1                  %.2f (target >= 3.50)\n", rate(4) / rate(0));
    printf("   Chunking+Pipelining / smtp-source -s 1         %.2f (target >= 10.0)\n", rate(5) / rate(0));
    printf("   4 connections, Pipelining / smtp-source -s 4   %.2f (target >= 3.50)\n", rate(6) / rate(1));
    printf("   30 calls: KeepConnection / without             %.2f (target >= 1.40)\n", rate(8) / rate(7));
    printf("   30 calls: KeepConnection+Pipelining / without  %.2f (target >= 3.00)\n", rate(9) / rate(7));
    printf("   30 TLS calls: resumed / without resumption      %.2f\n", rate(12) / rate(11));
    printf("   30 TLS calls: KeepConnection / without          %.2f\n", rate(13) / rate(11));
    for (pid_t pid : {tproxy, nproxy, tsink, nsink}) stop(pid);
    stop(proxy);
    stop(cproxy);
    stop(sink);
    stop(csink);
    std::string cleanup = "rm -rf " + g_dir;
    return system(cleanup.c_str()) == 0 ? 0 : 1;
}
