// A queue of 1,000 messages of 1 KiB sent over one connection to Postfix's
// smtp-sink on loopback, against smtp-source (1,000 messages over one
// connection) and Python's smtplib, in the same run. The library is timed
// from the call to its return (log file on), smtplib from connect to quit,
// smtp-source as a whole process. Every run's delivered count is checked
// with smtp-sink's counters. Target: the library at least as fast as both.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sink_request.h"

namespace {

constexpr int kMessages = 1000;

std::string slurp(const std::string &path) {
    std::string out;
    if (FILE *f = fopen(path.c_str(), "rb")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
        fclose(f);
    }
    return out;
}

// The last "mesg=N" that smtp-sink -c printed.
int sink_messages(const std::string &out) {
    size_t at = out.rfind("mesg=");
    return at == std::string::npos ? 0 : atoi(out.c_str() + at + 5);
}

double run_command(const std::string &cmd) {
    auto t0 = std::chrono::steady_clock::now();
    if (system(cmd.c_str()) != 0) fprintf(stderr, "failed: %s\n", cmd.c_str());
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main() {
    char tmpl[] = "/tmp/vellor-queuebench-XXXXXX";
    std::string dir = mkdtemp(tmpl);
    std::string queue = dir + "/queue";
    mkdir(queue.c_str(), 0755);
    std::string body = "Subject: bench\r\n\r\n";
    while (body.size() < 1022) body += "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcde\r\n";
    body.resize(1024);
    for (int i = 0; i < kMessages; ++i) {
        char name[64];
        snprintf(name, sizeof name, "/m%04d.txt", i);
        FILE *f = fopen((queue + name).c_str(), "wb");
        fwrite(body.data(), 1, body.size(), f);
        fclose(f);
    }
    FILE *reg = fopen((dir + "/registry.reg").c_str(), "w");
    fprintf(reg, "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\orvane\\vellorapi\\Options]\r\n\"MsgExtension\"=\"txt\"\r\n");
    fclose(reg);
    setenv("VELLORAPI_REGISTRY", (dir + "/registry.reg").c_str(), 1);
    setenv("VELLORAPI_SYSTEM_DIR", dir.c_str(), 1);  // the log file stays on
    int port = 20000 + getpid() % 20000;
    std::string counters = dir + "/sink.out";
    std::string addr = "127.0.0.1:" + std::to_string(port);
    pid_t sink = fork();
    if (sink == 0) {
        int fd = open(counters.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 1);
        execl("/usr/sbin/smtp-sink", "smtp-sink", "-u", "nobody", "-c", "-p", "-a", addr.c_str(), "1024",
              static_cast<char *>(nullptr));
        _exit(127);
    }
    usleep(300000);

    SMTPSEND_STRUCTURE req;
    fill_sink_request(req, port, queue.c_str());
    req.nMaxMessages = kMessages;
    auto t0 = std::chrono::steady_clock::now();
    int rc = VELLOR_Send_Message("Bench", &req, nullptr);
    double lib = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    usleep(200000);
    int after_lib = sink_messages(slurp(counters));

    double source = run_command("smtp-source -d -s 1 -m " + std::to_string(kMessages) +
                                " -l 1024 -f bench@example.org -t sink@example.org " + addr + " >/dev/null");
    usleep(200000);
    int after_source = sink_messages(slurp(counters));

    std::string py = std::string(VELLOR_BENCH_DIR) + "/smtplib_sender.py";
    std::string timing = dir + "/smtplib.time";
    run_command("/usr/bin/python3 " + py + " 127.0.0.1 " + std::to_string(port) + " " + queue + "/m0000.txt " +
                std::to_string(kMessages) + " > " + timing);
    double smtplib = atof(slurp(timing).c_str());
    usleep(200000);
    int after_py = sink_messages(slurp(counters));
    kill(sink, SIGTERM);
    waitpid(sink, nullptr, 0);

    printf("queue: %d messages of 1 KiB over one connection to smtp-sink\n", kMessages);
    printf("library (log on):  %.3f s  %.0f msg/s  delivered %d (result %d, nMessagesSent %d)\n", lib,
           kMessages / lib, after_lib, rc, req.nMessagesSent);
    printf("smtp-source -d:    %.3f s  %.0f msg/s  delivered %d\n", source, kMessages / source, after_source - after_lib);
    printf("python smtplib:    %.3f s  %.0f msg/s  delivered %d\n", smtplib, kMessages / smtplib, after_py - after_source);
    printf("ratio library/smtp-source: %.2f, library/smtplib: %.2f (target >= 1.00)\n", source / lib, smtplib / lib);
    std::string cleanup = "rm -rf " + dir;
    return system(cleanup.c_str()) == 0 ? 0 : 1;
}
