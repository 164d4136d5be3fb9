// A queue over several connections at once: 10,000 queued messages of
// 1 KiB into Postfix's smtp-sink on loopback, lockstep, the library's log
// on; the library with QueueConnections=4 (set on its record) against its
// own one connection and against smtp-source -s 4 -d (four sessions of its
// own, each keeping its connection), medians of interleaved rounds.
// Targets: 4 connections at least 1.5x one, and at least 0.9x smtp-source
// (whose four sessions share one event loop, as the library's four
// connections share one thread).
// Beside them, the floor of four lockstep connections: a bare client
// driving four connections from one poll() loop (bare_lanes).
// Beside them, for reference: the library's 4 connections with the
// Pipelining option, to a sink that offers PIPELINING (smtp-source has no
// such mode, so this row is not the target's).
// Usage: parallel_bench [ROUNDS] [MESSAGES]
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_run.h"

using namespace bench;

int main(int argc, char **argv) {
    std::string self = argv[0];
    g_bin = self.substr(0, self.rfind('/'));
    char tmpl[] = "/tmp/vellor-parallelbench-XXXXXX";
    g_dir = mkdtemp(tmpl);
    setenv("VELLORAPI_SYSTEM_DIR", g_dir.c_str(), 1);  // the log file stays on
    int rounds = argc > 1 ? atoi(argv[1]) : 5, count = argc > 2 ? atoi(argv[2]) : 10000;
    std::string queue = make_queue(count), reg = registry("lockstep.reg", ""),
                pipelined = registry("pipelined.reg", "\"Pipelining\"=dword:00000001\r\n");
    int port = 20000 + getpid() % 20000;
    pid_t sink = start_smtp_sink(port, false), psink = start_smtp_sink(port + 1, true);
    std::string source = "smtp-source -d -s 4 -m " + std::to_string(count) +
                         " -l 1024 -f bench@example.org -t sink@example.org 127.0.0.1:" + std::to_string(port);

    std::string floor =
        g_bin + "/bare_lanes " + queue + " " + std::to_string(port) + " " + std::to_string(count) + " 4";
    std::vector<double> one, four, peer, bare, piped;
    for (int r = 0; r < rounds; ++r) {
        one.push_back(timed(library(reg, queue, port, count, " 1")));
        four.push_back(timed(library(reg, queue, port, count, " 4")));
        peer.push_back(run(source).seconds);
        bare.push_back(timed(floor));
        piped.push_back(timed(library(pipelined, queue, port + 1, count, " 4")));
    }
    double L1 = median(one), L4 = median(four), S = median(peer), B = median(bare), P4 = median(piped);
    printf("%d x 1 KiB queued into smtp-sink, lockstep, median of %d interleaved rounds (log on)\n", count, rounds);
    printf("   library, 1 connection   %7.0f msg/s\n", count / L1);
    printf("   library, 4 connections  %7.0f msg/s   4/1                     %.2f (target >= 1.50)\n", count / L4,
           L1 / L4);
    printf("   smtp-source -s 4 -d     %7.0f msg/s   library 4/smtp-source   %.2f (target >= 0.90)\n", count / S,
           S / L4);
    printf("   bare client, 4 connections on one poll() loop (the floor)\n");
    printf("                           %7.0f msg/s   library 4/floor         %.2f   smtp-source/floor %.2f\n",
           count / B, B / L4, B / S);
    printf("   library, 4 connections, Pipelining option (sink offering PIPELINING)\n");
    printf("                           %7.0f msg/s   its /smtp-source        %.2f\n", count / P4, S / P4);
    for (pid_t p : {sink, psink}) {
        kill(p, SIGTERM);
        waitpid(p, nullptr, 0);
    }
    return system(("rm -rf " + g_dir).c_str()) == 0 ? 0 : 1;
}
