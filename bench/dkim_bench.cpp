// What DKIM signing costs: 1,000 queued messages of 1 KiB over one
// connection, and one 100 MiB message file, each sent unsigned, signed with
// Ed25519 and signed with RSA-2048 to the loopback read-and-discard sink in
// the same run; the medians of alternating rounds are compared, and the
// large message's peak memory is read from its child process.
// Targets: the Ed25519 queue at least 0.8x the unsigned one; the large
// message signed at least 0.6x unsigned, peak memory at most 16 MiB.
// Usage: dkim_bench [ROUNDS] [MiB]
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string g_dir, g_bin;

struct Run {
    double seconds;
    long peak_kib;
    int status;
};

Run run(const std::string &cmd) {
    auto t0 = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", (cmd + " >/dev/null").c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage ru{};
    wait4(pid, &status, 0, &ru);
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return {s, ru.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

std::string registry(const char *name, const char *selector) {
    std::string path = g_dir + "/" + name + ".reg";
    FILE *f = fopen(path.c_str(), "w");
    fprintf(
        f,
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\orvane\\vellorapi\\Options]\r\n\"MsgExtension\"=\"txt\"\r\n");
    if (selector)
        fprintf(f, "\"DKIMDomain\"=\"example.org\"\r\n\"DKIMSelector\"=\"%s\"\r\n\"DKIMKeyFile\"=\"%s/%s.pem\"\r\n",
                selector, g_dir.c_str(), selector);
    fclose(f);
    return path;
}

void write_file(const std::string &path, long lines, const std::string &line) {
    FILE *f = fopen(path.c_str(), "wb");
    fputs("From: bench@example.org\r\nTo: sink@example.org\r\nSubject: bench\r\n\r\n", f);
    for (long i = 0; i < lines; ++i) fwrite(line.data(), 1, line.size(), f);
    fclose(f);
}

std::string send_cmd(const std::string &reg, const std::string &path, int port, int max) {
    return "env VELLORAPI_REGISTRY=" + reg + " " + g_bin + "/queue_send " + path + " " + std::to_string(port) + " " +
           std::to_string(max);
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
    int rounds = argc > 1 ? atoi(argv[1]) : 5;
    long mib = argc > 2 ? atol(argv[2]) : 100;
    std::string self = argv[0];
    g_bin = self.substr(0, self.rfind('/'));
    char tmpl[] = "/tmp/vellor-dkimbench-XXXXXX";
    g_dir = mkdtemp(tmpl);
    setenv("VELLORAPI_SYSTEM_DIR", g_dir.c_str(), 1);
    run("openssl genpkey -algorithm ed25519 -out " + g_dir + "/ed.pem 2>/dev/null");
    run("openssl genpkey -algorithm rsa -pkeyopt rsa_keygen_bits:2048 -out " + g_dir + "/rsa.pem 2>/dev/null");
    std::string queue = g_dir + "/q";
    mkdir(queue.c_str(), 0755);
    std::string text = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abc\r\n";
    for (int i = 0; i < 1000; ++i) write_file(queue + "/m" + std::to_string(1000 + i) + ".txt", 15, text);
    std::string big = g_dir + "/big.txt";  // a file by its extension, the queue a folder
    write_file(big, mib * 1048576 / 80, std::string(78, 'm') + "\r\n");
    const char *names[] = {"unsigned", "ed25519", "rsa-2048"};
    std::string regs[] = {registry("plain", nullptr), registry("ed", "ed"), registry("rsa", "rsa")};

    int port = 20000 + getpid() % 20000;
    pid_t sink = fork();
    if (sink == 0) {
        std::string p = std::to_string(port), n = std::to_string(rounds * 6);
        execl((g_bin + "/smtp_discard_sink").c_str(), "smtp_discard_sink", p.c_str(), n.c_str(),
              static_cast<char *>(nullptr));
        _exit(127);
    }
    usleep(200000);
    std::vector<Run> q[3], b[3];
    for (int r = 0; r < rounds; ++r)
        for (int k = 0; k < 3; ++k) {
            q[k].push_back(run(send_cmd(regs[k], queue, port, 1000)));
            b[k].push_back(run(send_cmd(regs[k], big, port, 1)));
        }
    waitpid(sink, nullptr, 0);
    printf("DKIM signing, median of %d rounds, to a loopback discard sink\n", rounds);
    Run q0 = median(q[0]), b0 = median(b[0]);
    for (int k = 0; k < 3; ++k) {
        Run mq = median(q[k]), mb = median(b[k]);
        printf("  %-9s queue 1,000 x 1 KiB %7.0f msg/s (%.2fx)   %ld MiB file %7.1f MiB/s (%.2fx) peak %5.1f MiB%s\n",
               names[k], 1000 / mq.seconds, q0.seconds / mq.seconds, mib, mib / mb.seconds, b0.seconds / mb.seconds,
               mb.peak_kib / 1024.0, mq.status || mb.status ? "  (a send failed)" : "");
    }
    printf("targets: ed25519 queue >= 0.80x, signed file >= 0.60x, peak <= 16 MiB\n");
    return system(("rm -rf " + g_dir).c_str()) == 0 ? 0 : 1;
}
