// A 100 MiB message file sent to a loopback read-and-discard SMTP sink,
// against curl uploading the same file to the same sink in the same run.
// Each send runs in a child process so its peak memory can be read; five
// rounds alternate between the two and the medians are compared.
// Targets: at least twice curl's MiB/s; peak memory at most 16 MiB, the file
// being streamed, not loaded. Usage: body_bench [MiB]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_run.h"
#include "sink_request.h"

namespace {

struct Run {
    double seconds;
    long peak_kib;
    int status;
};

// Runs fn in a child; its wall time and peak resident memory.
template <class Fn>
Run in_child(Fn fn) {
    auto t0 = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) _exit(fn());
    int status = 0;
    rusage ru{};
    wait4(pid, &status, 0, &ru);
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return {s, ru.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

pid_t start_sink(const std::string &sink, int port, int sessions) {
    pid_t pid = fork();
    if (pid == 0) {
        execl(sink.c_str(), sink.c_str(), std::to_string(port).c_str(), std::to_string(sessions).c_str(),
              static_cast<char *>(nullptr));
        _exit(127);
    }
    usleep(200000);
    return pid;
}

Run median(std::vector<Run> runs) {
    std::sort(runs.begin(), runs.end(), [](const Run &a, const Run &b) { return a.seconds < b.seconds; });
    Run m = runs[runs.size() / 2];
    for (const Run &r : runs) {
        m.peak_kib = std::max(m.peak_kib, r.peak_kib);
        if (r.status != 0) m.status = r.status;
    }
    return m;
}

}  // namespace

int main(int argc, char **argv) {
    long mib = argc > 1 ? atol(argv[1]) : 100;
    std::string self = argv[0];
    std::string sink = self.substr(0, self.rfind('/') + 1) + "smtp_discard_sink";
    char tmpl[] = "/tmp/vellor-bodybench-XXXXXX";
    std::string dir = mkdtemp(tmpl);
    std::string file = dir + "/big.txt";
    bench::write_large_message(file, mib);
    setenv("VELLORAPI_SYSTEM_DIR", dir.c_str(), 1);
    setenv("VELLORAPI_REGISTRY", (dir + "/none.reg").c_str(), 1);
    int port = 20000 + getpid() % 20000;

    constexpr int kRounds = 5;
    pid_t s1 = start_sink(sink, port, kRounds);
    pid_t s2 = start_sink(sink, port + 1, kRounds);
    std::vector<Run> libs, curls;
    for (int round = 0; round < kRounds; ++round) {
        libs.push_back(in_child([&] {
            SMTPSEND_STRUCTURE req;
            fill_sink_request(req, port, file.c_str());
            return VELLOR_Send_Message("Bench", &req, nullptr) == 0 ? 0 : 1;
        }));
        curls.push_back(in_child([&] {
            std::string url = "smtp://127.0.0.1:" + std::to_string(port + 1);
            execlp("curl", "curl", "-s", url.c_str(), "-T", file.c_str(), "--mail-from", "bench@example.org",
                   "--mail-rcpt", "sink@example.org", static_cast<char *>(nullptr));
            return 127;
        }));
    }
    waitpid(s1, nullptr, 0);
    waitpid(s2, nullptr, 0);
    Run lib = median(libs), curl = median(curls);

    double size_mib = static_cast<double>(mib);
    printf("message: %ld MiB to a loopback discard sink, median of %d rounds\n", mib, kRounds);
    printf("library VELLOR_Send_Message: %.3f s  %.1f MiB/s  peak %ld KiB  (status %d)\n", lib.seconds,
           size_mib / lib.seconds, lib.peak_kib, lib.status);
    printf("curl smtp upload:            %.3f s  %.1f MiB/s  peak %ld KiB  (status %d)\n", curl.seconds,
           size_mib / curl.seconds, curl.peak_kib, curl.status);
    printf("speed ratio library/curl: %.2f (target >= 2.00)\n", curl.seconds / lib.seconds);
    printf("library peak: %.1f MiB (target <= 16)\n", lib.peak_kib / 1024.0);
    std::string cleanup = "rm -rf " + dir;
    return system(cleanup.c_str()) == 0 && lib.status == 0 ? 0 : 1;
}
