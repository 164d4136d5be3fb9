// What DKIM signing costs: 1,000 queued messages of 1 KiB over one
// connection, and one 100 MiB message file, each sent unsigned, signed with
// Ed25519 and signed with RSA-2048 to the loopback read-and-discard sink in
// the same run; rounds alternate between the three, each send timed by
// queue_send itself, and the medians are compared; the large message's peak
// memory is read from its process.
// Targets: the Ed25519 queue at least 0.8x the unsigned one; the large
// message signed at least 0.6x unsigned, peak memory at most 16 MiB.
// Usage: dkim_bench [ROUNDS] [MiB]
#include "bench_run.h"

using namespace bench;

namespace {

struct Figures {
    std::vector<double> queue, file;
    long peak_kib = 0;
    bool failed = false;
};

// One send timed by queue_send; false when it did not send `count` messages.
bool send(const std::string &reg, const std::string &what, int port, int count, std::vector<double> &times,
          long *peak_kib = nullptr) {
    Run r = run(library(reg, what, port, count));
    double seconds = 0;
    int sent = 0;
    bool ok = sscanf(r.out.c_str(), "%lf %d", &seconds, &sent) == 2 && sent == count;
    times.push_back(ok ? seconds : r.seconds);
    if (peak_kib) *peak_kib = std::max(*peak_kib, r.peak_kib);
    return ok;
}

std::string dkim_lines(const char *selector) {
    return std::string("\"DKIMDomain\"=\"example.org\"\r\n\"DKIMSelector\"=\"") + selector +
           "\"\r\n\"DKIMKeyFile\"=\"" + g_dir + "/" + selector + ".pem\"\r\n";
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
    std::string queue = make_queue(1000);
    std::string big = g_dir + "/big.txt";  // a file by its extension, the queue a folder
    write_large_message(big, mib);
    const char *names[] = {"unsigned", "ed25519", "rsa-2048"};
    std::string regs[] = {registry("plain.reg", ""), registry("ed.reg", dkim_lines("ed")),
                          registry("rsa.reg", dkim_lines("rsa"))};

    int port = 20000 + getpid() % 20000;
    pid_t sink = start_discard_sink(port, rounds * 6);
    Figures f[3];
    for (int r = 0; r < rounds; ++r)
        for (int k = 0; k < 3; ++k) {
            f[k].failed |= !send(regs[k], queue, port, 1000, f[k].queue);
            f[k].failed |= !send(regs[k], big, port, 1, f[k].file, &f[k].peak_kib);
        }
    waitpid(sink, nullptr, 0);
    printf("DKIM signing, median of %d rounds, to a loopback discard sink\n", rounds);
    double q0 = median(f[0].queue), b0 = median(f[0].file);
    for (int k = 0; k < 3; ++k) {
        double q = median(f[k].queue), b = median(f[k].file);
        printf("  %-9s queue 1,000 x 1 KiB %7.0f msg/s (%.2fx)   %ld MiB file %7.1f MiB/s (%.2fx) peak %5.1f MiB%s\n",
               names[k], 1000 / q, q0 / q, mib, mib / b, b0 / b, f[k].peak_kib / 1024.0,
               f[k].failed ? "  (a send failed)" : "");
    }
    printf("targets: ed25519 queue >= 0.80x, signed file >= 0.60x, peak <= 16 MiB\n");
    return system(("rm -rf " + g_dir).c_str()) == 0 ? 0 : 1;
}
