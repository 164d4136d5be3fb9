// Test helpers: a private temporary directory per test holding the registry
// file, the log and the work files; the status-callback recorder; child
// processes started by the fixtures and stopped by process id; loopback
// ports and bounded waits.
#pragma once
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "vellorapi.h"

namespace testenv {

class TempEnv {
public:
    TempEnv();   // makes the directory, points the library at it, chdirs in
    ~TempEnv();  // removes it again
    const std::string &dir() const { return dir_; }
    std::string path(const std::string &name) const { return dir_ + "/" + name; }
    void registry(const std::string &values);  // writes a REGEDIT4 file with the Options section
    void registry_raw(const std::string &content);
    std::string log_path() const { return path("vellorlog.txt"); }
    std::vector<std::string> log_texts() const;  // log lines without stamp and CR LF
    void clear_log() const;

private:
    std::string dir_, old_cwd_;
};

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &content);
bool file_exists(const std::string &path);

struct Report {
    int status;
    std::string text;
    int code;
    std::string file;  // the record's szMessageFile then
};
// The recording status callback and what it recorded.
int32_t VELLOR_CALLBACK record_status(SMTPSEND_STRUCTURE *, int32_t status, const char *text, int32_t code);
std::vector<Report> &reports();

// Test data's escapes: \r \n \t \\ \xHH, and {N*TEXT} for N times the text.
std::string unescape(const std::string &s);

// A recipient list block as an application makes one.
HGLOBAL make_list(const std::string &text);

class Process {
public:
    Process() = default;
    explicit Process(const std::vector<std::string> &argv, const std::string &log = "");
    Process &operator=(Process &&o) noexcept;
    ~Process() { stop(); }
    void stop();

private:
    pid_t pid_ = -1;
};

// A socket of the type (SOCK_STREAM or SOCK_DGRAM) bound to address:port
// (port 0: any free one); bound_port receives the port. -1 on failure.
int bind_loopback(int type, const char *address, int port, int &bound_port);
// A listening socket on address:port whose queue is full: a connect to it
// is never answered (it neither completes nor fails).
class StalledListener {
public:
    StalledListener(const char *address, int port);
    ~StalledListener();
    StalledListener(const StalledListener &) = delete;
    StalledListener &operator=(const StalledListener &) = delete;

private:
    std::vector<int> fds_;
};

// A free TCP port on the address (bound, then released).
int free_port(const char *address = "127.0.0.1");
bool wait_until(const std::function<bool()> &cond, std::chrono::milliseconds limit);

}  // namespace testenv
