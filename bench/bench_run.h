// What the queue benchmarks share: a folder of queued 1 KiB messages,
// Postfix's smtp-sink or the read-and-discard sink on a loopback port, a
// large message file, a command run through the shell
// with its output, wall time and peak memory, and the median of rounds.
// The folder and the benchmarks' own programs are in g_dir and g_bin.
#pragma once
#include <fcntl.h>
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

namespace bench {

inline std::string g_dir, g_bin;

inline std::string slurp(const std::string &path) {
    std::string out;
    if (FILE *f = fopen(path.c_str(), "rb")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
        fclose(f);
    }
    return out;
}

// DIR/m0000.txt ... of 1 KiB each, in g_dir/qCOUNT.
inline std::string make_queue(int count) {
    std::string q = g_dir + "/q" + std::to_string(count);
    mkdir(q.c_str(), 0755);
    std::string body = "Subject: bench\r\n\r\n";
    while (body.size() < 1022) body += "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcde\r\n";
    body.resize(1024);
    for (int i = 0; i < count; ++i) {
        char name[64];
        snprintf(name, sizeof name, "/m%04d.txt", i);
        FILE *f = fopen((q + name).c_str(), "wb");
        fwrite(body.data(), 1, body.size(), f);
        fclose(f);
    }
    return q;
}

// smtp-sink on 127.0.0.1:port, offering PIPELINING or not.
inline pid_t start_smtp_sink(int port, bool offer_pipelining) {
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open("/dev/null", O_WRONLY);
        dup2(fd, 1);
        std::string addr = "127.0.0.1:" + std::to_string(port);
        std::vector<const char *> args{"smtp-sink", "-u", "nobody", "-a"};
        if (!offer_pipelining) args.push_back("-p");
        for (const char *a : {addr.c_str(), "1024", static_cast<const char *>(nullptr)}) args.push_back(a);
        execv("/usr/sbin/smtp-sink", const_cast<char *const *>(args.data()));
        _exit(127);
    }
    usleep(300000);
    return pid;
}

// The loopback read-and-discard sink (smtp_discard_sink) on the port, for
// the given number of sessions.
inline pid_t start_discard_sink(int port, int sessions, const std::string &certs = "") {
    pid_t pid = fork();
    if (pid == 0) {
        std::string p = std::to_string(port), n = std::to_string(sessions);
        std::string cert = certs + "/server.pem", key = certs + "/server.key";
        if (certs.empty())
            execl((g_bin + "/smtp_discard_sink").c_str(), "smtp_discard_sink", p.c_str(), n.c_str(),
                  static_cast<char *>(nullptr));
        else
            execl((g_bin + "/smtp_discard_sink").c_str(), "smtp_discard_sink", p.c_str(), n.c_str(), cert.c_str(),
                  key.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    usleep(200000);
    return pid;
}

// A message file of about `mib` MiB: a short header, then lines of 80 bytes.
inline void write_large_message(const std::string &path, long mib) {
    std::string line(78, 'm');
    line += "\r\n";
    FILE *f = fopen(path.c_str(), "wb");
    fputs("From: bench@example.org\r\nTo: sink@example.org\r\nSubject: bench\r\n\r\n", f);
    for (long i = 0; i < mib * 1048576 / 80; ++i) fwrite(line.data(), 1, line.size(), f);
    fclose(f);
}

struct Run {
    double seconds = 0;
    long peak_kib = 0;
    std::string out;
};

// Runs a shell command; its output, wall time and peak memory.
inline Run run(const std::string &cmd) {
    std::string out = g_dir + "/run.out";
    auto t0 = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", (cmd + " > " + out).c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage ru{};
    wait4(pid, &status, 0, &ru);
    Run r;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    r.peak_kib = ru.ru_maxrss;
    r.out = slurp(out);
    if (status != 0) fprintf(stderr, "failed (%d): %s\n", status, cmd.c_str());
    return r;
}

// The seconds a program reports itself (its first number), or the wall time.
inline double timed(const std::string &cmd) {
    Run r = run(cmd);
    double s = atof(r.out.c_str());
    return s > 0 ? s : r.seconds;
}

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// queue_send with the options file `reg`: COUNT messages of `queue` to the port.
inline std::string library(const std::string &reg, const std::string &queue, int port, int count,
                           const std::string &extra = "") {
    return "env VELLORAPI_REGISTRY=" + reg + " " + g_bin + "/queue_send " + queue + " " + std::to_string(port) + " " +
           std::to_string(count) + extra;
}

// An options file of the queue's extension and the given lines.
inline std::string registry(const char *name, const std::string &lines) {
    std::string path = g_dir + "/" + name;
    FILE *reg = fopen(path.c_str(), "w");
    fprintf(
        reg,
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\orvane\\vellorapi\\Options]\r\n\"MsgExtension\"=\"txt\"\r\n%s",
        lines.c_str());
    fclose(reg);
    return path;
}

}  // namespace bench
