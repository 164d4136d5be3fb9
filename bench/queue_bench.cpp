// Queues of 1 KiB messages over one connection to Postfix's smtp-sink on
// loopback, every figure beside its peer's from the same run (medians of
// interleaved rounds; the library's log on):
//  1. 1,000 messages, the classic lockstep dialogue: the library against
//     smtp-source -d, Python's smtplib and a bare lockstep client built
//     here (the floor of the dialogue). Targets: 1.2x smtp-source and
//     smtplib, 0.9x the bare client.
//  2. The same with the Pipelining option, to a sink that offers
//     PIPELINING, against the bare client pipelining MAIL, RCPT and DATA.
//     Target: 0.9x the bare pipelined client.
//  3. System calls per message in steady state, counted with strace -c -f:
//     (calls for 1,000 - calls for 100) / 900. Target: at most 12.
//  4. Queues of 1,000, 10,000 and 50,000: time per message and peak memory,
//     medians of three runs. Target: both flat within 10 %.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_run.h"

using namespace bench;

namespace {

long strace_calls(const std::string &cmd) {
    std::string out = g_dir + "/strace.out";
    run("strace -c -f -o " + out + " " + cmd);
    std::string text = slurp(out);
    std::size_t at = text.rfind("total");
    if (at == std::string::npos) return -1;
    // "100.00    0.012345           1     12345       123 total": the calls column.
    std::size_t line = text.rfind('\n', at);
    std::vector<std::string> cols;
    char buf[64];
    const char *p = text.c_str() + line + 1;
    int used = 0;
    while (sscanf(p, "%63s%n", buf, &used) == 1 && strcmp(buf, "total") != 0) {
        cols.emplace_back(buf);
        p += used;
    }
    return cols.size() >= 4 ? atol(cols[3].c_str()) : -1;
}

}  // namespace

int main(int argc, char **argv) {
    std::string self = argv[0];
    g_bin = self.substr(0, self.rfind('/'));
    char tmpl[] = "/tmp/vellor-queuebench-XXXXXX";
    g_dir = mkdtemp(tmpl);
    setenv("VELLORAPI_SYSTEM_DIR", g_dir.c_str(), 1);  // the log file stays on
    int rounds = argc > 1 ? atoi(argv[1]) : 9;
    std::string q1000 = make_queue(1000), q100 = make_queue(100);
    std::string lockstep = registry("lockstep.reg", ""),
                pipelined = registry("pipelined.reg", "\"Pipelining\"=dword:00000001\r\n");
    int port = 20000 + getpid() % 20000;
    pid_t sink = start_smtp_sink(port, false), psink = start_smtp_sink(port + 1, true);
    std::string p0 = std::to_string(port), p1 = std::to_string(port + 1);

    std::vector<double> lib, source, smtplib, bare, plib, pbare;
    for (int r = 0; r < rounds; ++r) {
        lib.push_back(timed(library(lockstep, q1000, port, 1000)));
        source.push_back(
            timed("smtp-source -d -s 1 -m 1000 -l 1024 -f bench@example.org -t sink@example.org 127.0.0.1:" + p0));
        smtplib.push_back(timed("/usr/bin/python3 " + std::string(VELLOR_BENCH_DIR) + "/smtplib_sender.py 127.0.0.1 " +
                                p0 + " " + q1000 + "/m0000.txt 1000"));
        bare.push_back(timed(g_bin + "/bare_client " + q1000 + " " + p0 + " 1000"));
        plib.push_back(timed(library(pipelined, q1000, port + 1, 1000)));
        pbare.push_back(timed(g_bin + "/bare_client " + q1000 + " " + p1 + " 1000 pipelined"));
    }
    double L = median(lib), S = median(source), P = median(smtplib), B = median(bare), PL = median(plib),
           PB = median(pbare);
    printf("1. queue: 1,000 x 1 KiB over one connection to smtp-sink, lockstep, median of %d rounds (log on)\n",
           rounds);
    printf("   library            %7.0f msg/s\n", 1000 / L);
    printf("   smtp-source -d     %7.0f msg/s   library/smtp-source %.2f (target >= 1.20)\n", 1000 / S, S / L);
    printf("   python smtplib     %7.0f msg/s   library/smtplib     %.2f (target >= 1.20)\n", 1000 / P, P / L);
    printf("   bare lockstep      %7.0f msg/s   library/bare        %.2f (target >= 0.90)\n", 1000 / B, B / L);
    printf("2. the same with the Pipelining option, to a sink that offers PIPELINING\n");
    printf("   library pipelined  %7.0f msg/s\n", 1000 / PL);
    printf("   bare pipelined     %7.0f msg/s   library/bare        %.2f (target >= 0.90)\n", 1000 / PB, PB / PL);

    if (system("command -v strace >/dev/null") == 0) {
        long c1000 = strace_calls(library(lockstep, q1000, port, 1000)),
             c100 = strace_calls(library(lockstep, q100, port, 100));
        printf("3. system calls per message in steady state (strace -c -f): %.1f (target <= 12)\n",
               (c1000 - c100) / 900.0);
    } else {
        printf("3. system calls per message: strace is not installed\n");
    }

    printf("4. queues of growing size (lockstep, medians of 3 runs)\n   %8s %14s %12s %10s\n", "messages",
           "us per message", "peak KiB", "sent");
    for (int n : {1000, 10000, 50000}) {
        std::string q = n == 1000 ? q1000 : make_queue(n);
        std::vector<double> us;
        std::vector<double> kib;
        int sent = 0;
        for (int round = 0; round < 3; ++round) {
            Run r = run(library(lockstep, q, port, n));
            us.push_back(atof(r.out.c_str()) / n * 1e6);
            kib.push_back(static_cast<double>(r.peak_kib));
            sent = atoi(r.out.c_str() + r.out.find(' ') + 1);
        }
        printf("   %8d %14.1f %12.0f %10d\n", n, median(us), median(kib), sent);
    }
    kill(sink, SIGTERM);
    kill(psink, SIGTERM);
    waitpid(sink, nullptr, 0);
    waitpid(psink, nullptr, 0);
    std::string cleanup = "rm -rf " + g_dir;
    return system(cleanup.c_str()) == 0 ? 0 : 1;
}
