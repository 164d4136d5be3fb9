// Secure connections: a 100 MiB message and a queue of 1,000 messages of
// 1 KiB, each over TLS from the first byte, into the loopback TLS discard
// sink, against curl over TLS (smtps://, the same sink, the same run; for
// the queue one curl run with a transfer per message over its reused
// connection). Target: at least curl's throughput. Then the floor: the
// library's 1,000-message queue (queue_send) against the bare lockstep
// client over one TLS connection (bare_client ... tls), each timing its own
// send, medians of interleaved rounds; target at least 0.9x the bare client.
// Usage: tls_bench [MiB] [ROUNDS]
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "bench_run.h"
#include "sink_request.h"

namespace {

double seconds_of(const std::function<int()> &fn, int &status) {
    auto t0 = std::chrono::steady_clock::now();
    status = fn();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void write_file(const std::string &path, const std::string &text) {
    FILE *f = fopen(path.c_str(), "wb");
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
}

int library_send(int port, const std::string &message, int max) {
    SMTPSEND_STRUCTURE req;
    fill_sink_request(req, port, message.c_str());
    std::strcpy(req.szServer, "localhost");
    req.nMaxMessages = max;
    int rc = VELLOR_Send_Message("Bench", &req, nullptr);
    if (rc != 0) fprintf(stderr, "send failed: %d %s\n", req.nErrorCode, req.szErrorText);
    return rc == 0 ? 0 : 1;
}

int curl(const std::string &args) { return system(("curl -s " + args + " >/dev/null").c_str()) == 0 ? 0 : 1; }

// The queue through queue_send against the bare TLS client, interleaved,
// each timing its own send; prints the medians.
bool floor_rounds(const std::string &queue, const std::string &certs, int port, int rounds) {
    pid_t pid = bench::start_discard_sink(port, 2 * rounds, certs);
    std::string p = " " + std::to_string(port) + " 1000";
    std::vector<double> lib, bare;
    for (int r = 0; r < rounds; ++r) {
        lib.push_back(bench::timed(bench::g_bin + "/queue_send " + queue + p));
        bare.push_back(bench::timed(bench::g_bin + "/bare_client " + queue + p + " tls " + certs + "/ca.pem"));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    double l = bench::median(lib), b = bench::median(bare);
    printf(
        "1,000 x 1 KiB, one TLS connection, median of %d interleaved rounds  library: %.3f s %.0f msg/s   bare "
        "client: %.3f s %.0f msg/s   ratio %.2f (target >= 0.90)\n",
        rounds, l, 1000 / l, b, 1000 / b, b / l);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char **argv) {
    std::string self = argv[0];
    bench::g_bin = self.substr(0, self.rfind('/'));
    char tmpl[] = "/tmp/vellor-tlsbench-XXXXXX";
    std::string dir = mkdtemp(tmpl);
    std::string certs = dir + "/certs";
    mkdir(certs.c_str(), 0700);
    if (system(("bash " + std::string(VELLOR_CERTS_SCRIPT) + " " + certs).c_str()) != 0) return 1;
    long mib = argc > 1 ? atol(argv[1]) : 100;
    std::string big = dir + "/big.txt", line(78, 'm');
    {
        std::string text = "Subject: big\r\n\r\n";
        FILE *f = fopen(big.c_str(), "wb");
        fputs(text.c_str(), f);
        for (long i = 0; i < mib * 1048576 / 80; ++i) fprintf(f, "%s\r\n", line.c_str());
        fclose(f);
    }
    std::string queue = dir + "/queue", body = "Subject: q\r\n\r\n";
    mkdir(queue.c_str(), 0755);
    while (body.size() < 1022) body += line + "\r\n";
    body.resize(1024);
    std::string config;
    for (int i = 0; i < 1000; ++i) {
        char name[32];
        snprintf(name, sizeof name, "/m%04d.txt", i);
        write_file(queue + name, body);
        config += std::string(i ? "next\n" : "") + "url = \"smtps://localhost:PORT\"\nupload-file = \"" + queue + name +
                  "\"\nmail-from = \"bench@example.org\"\nmail-rcpt = \"sink@example.org\"\ncacert = \"" + certs +
                  "/ca.pem\"\nresolve = \"localhost:PORT:127.0.0.1\"\n";
    }
    write_file(dir + "/registry.reg",
               "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\orvane\\vellorapi\\Options]\r\n"
               "\"MsgExtension\"=\"txt\"\r\n\"SecureConnection\"=dword:00000002\r\n\"TLSCAFile\"=\"" +
                   certs + "/ca.pem\"\r\n");
    setenv("VELLORAPI_REGISTRY", (dir + "/registry.reg").c_str(), 1);
    setenv("VELLORAPI_SYSTEM_DIR", dir.c_str(), 1);  // the log stays on
    int port = 20000 + getpid() % 20000;
    std::string p1 = std::to_string(port + 1);
    for (std::size_t at; (at = config.find("PORT")) != std::string::npos;) config.replace(at, 4, p1);
    write_file(dir + "/curl.cfg", config);

    pid_t a = bench::start_discard_sink(port, 2, certs), b = bench::start_discard_sink(port + 1, 2, certs);
    int s1, s2, s3, s4;
    double lib_big = seconds_of([&] { return library_send(port, big, 0); }, s1);
    double curl_big = seconds_of(
        [&] {
            return curl("--ssl-reqd smtps://localhost:" + p1 + " --resolve localhost:" + p1 + ":127.0.0.1 --cacert " +
                        certs + "/ca.pem -T " + big + " --mail-from bench@example.org --mail-rcpt sink@example.org");
        },
        s2);
    double lib_queue = seconds_of([&] { return library_send(port, queue, 1000); }, s3);
    double curl_queue = seconds_of([&] { return curl("--ssl-reqd -K " + dir + "/curl.cfg"); }, s4);
    waitpid(a, nullptr, 0);
    waitpid(b, nullptr, 0);

    printf("TLS from the first byte into a loopback TLS discard sink\n");
    printf(
        "%ld MiB message  library: %.3f s %.1f MiB/s (status %d)   curl: %.3f s %.1f MiB/s (status %d)   ratio %.2f "
        "(target >= 1.00)\n",
        mib, lib_big, mib / lib_big, s1, curl_big, mib / curl_big, s2, curl_big / lib_big);
    printf(
        "1,000 x 1 KiB    library: %.3f s %.0f msg/s (status %d)    curl: %.3f s %.0f msg/s (status %d)    ratio %.2f "
        "(target >= 1.00)\n",
        lib_queue, 1000 / lib_queue, s3, curl_queue, 1000 / curl_queue, s4, curl_queue / lib_queue);
    bench::g_dir = dir;
    bool floor_ok = floor_rounds(queue, certs, port + 2, argc > 2 ? atoi(argv[2]) : 9);
    return system(("rm -rf " + dir).c_str()) == 0 && !s1 && !s3 && floor_ok ? 0 : 1;
}
