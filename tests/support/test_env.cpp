// Test helpers; see test_env.h.
#include "test_env.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

namespace testenv {

namespace {
// The library's options file and log folder.
void point_at(const std::string &dir) {
    ::setenv("VELLORAPI_REGISTRY", (dir + "/registry.reg").c_str(), 1);
    ::setenv("VELLORAPI_SYSTEM_DIR", dir.c_str(), 1);
}

// Every test process starts pointed at a folder of its own, so a test that
// makes no TempEnv still never writes the system's log or reads its options.
struct ProcessFolder {
    std::string dir;
    ProcessFolder() {
        char tmpl[] = "/tmp/vellor-proc-XXXXXX";
        if (!::mkdtemp(tmpl)) std::abort();
        dir = tmpl;
        point_at(dir);
    }
    ~ProcessFolder() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};
ProcessFolder g_process_folder;
}  // namespace

TempEnv::TempEnv() {
    char tmpl[] = "/tmp/vellor-test-XXXXXX";
    dir_ = ::mkdtemp(tmpl);
    char cwd[4096];
    old_cwd_ = ::getcwd(cwd, sizeof cwd) ? cwd : "/";
    point_at(dir_);
    if (::chdir(dir_.c_str()) != 0) std::abort();
    reports().clear();
}

TempEnv::~TempEnv() {
    point_at(g_process_folder.dir);
    if (::chdir(old_cwd_.c_str()) != 0) return;
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void TempEnv::registry(const std::string &values) {
    registry_raw("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\orvane\\vellorapi\\Options]\r\n" + values);
}

void TempEnv::registry_raw(const std::string &content) { write_file(path("registry.reg"), content); }

std::vector<std::string> TempEnv::log_texts() const {
    std::vector<std::string> out;
    std::string all = read_file(log_path());
    for (std::size_t pos = 0, end; pos < all.size(); pos = end + 2) {
        end = std::min(all.find("\r\n", pos), all.size());
        out.push_back(all.substr(pos, end - pos).substr(std::min<std::size_t>(21, end - pos)));
    }
    return out;
}

void TempEnv::clear_log() const { ::unlink(log_path().c_str()); }

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const std::string &path, const std::string &content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

bool file_exists(const std::string &path) { return ::access(path.c_str(), F_OK) == 0; }

std::vector<Report> &reports() {
    static std::vector<Report> r;
    return r;
}

int32_t VELLOR_CALLBACK record_status(SMTPSEND_STRUCTURE *r, int32_t status, const char *text, int32_t code) {
    reports().push_back({status, text ? text : "", code, r ? r->szMessageFile : ""});
    return 0;
}

HGLOBAL make_list(const std::string &text) {
    HGLOBAL h = GlobalAlloc(GHND, text.size() + 1);
    char *p = static_cast<char *>(GlobalLock(h));
    std::memcpy(p, text.c_str(), text.size() + 1);
    GlobalUnlock(h);
    return h;
}

Process::Process(const std::vector<std::string> &argv, const std::string &log) {
    pid_ = ::fork();
    if (pid_ == 0) {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // a test that crashes takes its servers with it
        int fd = ::open(log.empty() ? "/dev/null" : log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd >= 0) {
            ::dup2(fd, 1);
            ::dup2(fd, 2);
        }
        std::vector<char *> args;
        for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
}

Process &Process::operator=(Process &&o) noexcept {
    stop();
    pid_ = o.pid_;
    o.pid_ = -1;
    return *this;
}

void Process::stop() {
    if (pid_ <= 0) return;
    ::kill(-pid_, SIGTERM);
    ::kill(pid_, SIGTERM);
    if (!wait_until([&] { return ::waitpid(pid_, nullptr, WNOHANG) == pid_; }, std::chrono::milliseconds(2000))) {
        ::kill(-pid_, SIGKILL);
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
}

int bind_loopback(int type, const char *address, int port, int &bound_port) {
    sockaddr_in6 sa{};  // large enough for either family
    auto *v4 = reinterpret_cast<sockaddr_in *>(&sa);
    bool v6 = std::strchr(address, ':') != nullptr;
    socklen_t len = v6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    if (v6) {
        sa.sin6_family = AF_INET6;
        sa.sin6_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET6, address, &sa.sin6_addr);
    } else {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET, address, &v4->sin_addr);
    }
    int fd = ::socket(v6 ? AF_INET6 : AF_INET, type | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (v6) ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&sa), len) != 0) {
        ::close(fd);
        return -1;
    }
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len);
    bound_port = ntohs(v6 ? sa.sin6_port : v4->sin_port);
    return fd;
}

StalledListener::StalledListener(const char *address, int port) {
    int bound = 0;
    fds_.push_back(bind_loopback(SOCK_STREAM, address, port, bound));
    ::listen(fds_[0], 0);
    for (int i = 0; i < 2; ++i) {  // a full queue: the connects after these are never answered
        int filler = bind_loopback(SOCK_STREAM, std::strchr(address, ':') ? "::1" : "127.0.0.1", 0, bound);
        ::fcntl(filler, F_SETFL, O_NONBLOCK);
        sockaddr_in6 to{};
        socklen_t len = sizeof to;
        ::getsockname(fds_[0], reinterpret_cast<sockaddr *>(&to), &len);
        ::connect(filler, reinterpret_cast<sockaddr *>(&to), len);
        fds_.push_back(filler);
    }
}

StalledListener::~StalledListener() {
    for (int fd : fds_) ::close(fd);
}

// Ports for the test servers come from 20000-32767, below the range the
// system hands out to outgoing connections and DNS queries, so a port just
// found free is not taken by a client socket of a test running beside.
int free_port(const char *address) {
    static std::mt19937 rng(static_cast<unsigned>(::getpid()) * 7919u + static_cast<unsigned>(::time(nullptr)));
    int port = 0, fd = -1;
    for (int attempt = 0; attempt < 200 && fd < 0; ++attempt)
        fd = bind_loopback(SOCK_STREAM, address, 20000 + static_cast<int>(rng() % 12768), port);
    ::close(fd);
    return port;
}

bool wait_until(const std::function<bool()> &cond, std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return cond();
}

// \r \n \t \\ and \xHH escapes, and {N*TEXT}: N times the text.
std::string unescape(const std::string &s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        std::size_t star = s.find('*', i), close = s.find('}', star);
        if (s[i] == '{' && star != std::string::npos && close != std::string::npos && close > star + 1 &&
            star > i + 1 && s.find_first_not_of("0123456789", i + 1) == star) {
            std::string text = unescape(s.substr(star + 1, close - star - 1));
            for (unsigned long n = std::stoul(s.substr(i + 1, star - i - 1)); n > 0; --n) out += text;
            i = close;
            continue;
        }
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        char c = s[++i];
        if (c == 'x' && i + 2 < s.size()) {  // \xHH, one byte
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
            continue;
        }
        out += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
    }
    return out;
}

}  // namespace testenv
