// A queue over several connections at once: 10,000 queued messages of
// 1 KiB into Postfix's smtp-sink on loopback, lockstep, the library's log
// on; the library with QueueConnections=4 (set on its record) against its
// own one connection and against smtp-source -s 4 -d (four sessions of its
// own, each keeping its connection), medians of interleaved rounds.
// Targets: 4 connections at least 1.5x one, and at least 1.2x smtp-source.
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
    std::string queue = make_queue(count), reg = registry("lockstep.reg", "");
    int port = 20000 + getpid() % 20000;
    pid_t sink = start_smtp_sink(port, false);
    std::string source = "smtp-source -d -s 4 -m " + std::to_string(count) +
                         " -l 1024 -f bench@example.org -t sink@example.org 127.0.0.1:" + std::to_string(port);

    std::vector<double> one, four, peer;
    for (int r = 0; r < rounds; ++r) {
        one.push_back(timed(library(reg, queue, port, count, " 1")));
        four.push_back(timed(library(reg, queue, port, count, " 4")));
        peer.push_back(run(source).seconds);
    }
    double L1 = median(one), L4 = median(four), S = median(peer);
    printf("%d x 1 KiB queued into smtp-sink, lockstep, median of %d interleaved rounds (log on)\n", count, rounds);
    printf("   library, 1 connection   %7.0f msg/s\n", count / L1);
    printf("   library, 4 connections  %7.0f msg/s   4/1                     %.2f (target >= 1.50)\n", count / L4,
           L1 / L4);
    printf("   smtp-source -s 4 -d     %7.0f msg/s   library 4/smtp-source   %.2f (target >= 1.20)\n", count / S,
           S / L4);
    kill(sink, SIGTERM);
    waitpid(sink, nullptr, 0);
    return system(("rm -rf " + g_dir).c_str()) == 0 ? 0 : 1;
}
