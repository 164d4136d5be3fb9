// Log lines: 100,000 lines through Write_Log (two option reads from the
// registry file, then an open for appending, a write and a close of the
// log), against a plain
// C loop making the same system calls. Target: within 1.5 times the loop.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/log_file.h"

namespace {

constexpr int kLines = 100000;

double seconds_since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// What one log line costs at the system-call level, with nothing else.
void plain_line(const char *registry, const char *log, const char *text) {
    char buf[4096];
    for (int i = 0; i < 2; ++i) {
        int fd = open(registry, O_RDONLY);
        if (fd >= 0) {
            if (read(fd, buf, sizeof buf) < 0) perror("read");
            close(fd);
        }
    }
    int fd = open(log, O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (fd < 0) return;
    char line[1024];
    int n = snprintf(line, sizeof line, "%04d/%02d/%02d  %02d:%02d:%02d %s\r\n", 2026, 12, 5, 12, 0, 0, text);
    if (write(fd, line, static_cast<size_t>(n)) < 0) perror("write");
    close(fd);
}

}  // namespace

int main() {
    char tmpl[] = "/tmp/vellor-logbench-XXXXXX";
    std::string dir = mkdtemp(tmpl);
    std::string registry = dir + "/registry.reg", log = dir + "/vellorlog.txt", plain_log = dir + "/plain.txt";
    FILE *f = fopen(registry.c_str(), "w");
    fprintf(f,
            "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\orvane\\vellorapi\\Options]\r\n"
            "\"UseLogFile\"=dword:00000001\r\n\"logfilemax\"=dword:00000064\r\n");
    fclose(f);
    setenv("VELLORAPI_REGISTRY", registry.c_str(), 1);
    setenv("VELLORAPI_SYSTEM_DIR", dir.c_str(), 1);
    const char *text = "VellorAPI [Bench] - [1] - Recipient address of [someone@example.org] accepted...";

    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kLines; ++i) plain_line(registry.c_str(), plain_log.c_str(), text);
    double plain = seconds_since(t0);

    t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kLines; ++i) vellor::Write_Log(text);
    double lib = seconds_since(t0);

    printf("log lines: %d\n", kLines);
    printf("plain C loop (same system calls): %.3f s  (%.0f lines/s)\n", plain, kLines / plain);
    printf("library Write_Log:                %.3f s  (%.0f lines/s)\n", lib, kLines / lib);
    printf("ratio library/plain: %.2f (target <= 1.50)\n", lib / plain);
    std::string cleanup = "rm -rf " + dir;
    return system(cleanup.c_str()) == 0 ? 0 : 1;
}
