// The tool's system calls on POSIX systems; see system.h.
#include "system.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <cstring>

namespace cli::sys {

const char kSeparator = '/';

bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) != 0; }

namespace {

// Ctrl-C or a termination signal during the prompt puts the terminal's echo
// back before the tool ends as the signal would end it.
int g_tty = -1;
termios g_saved{};

void restore_and_reraise(int sig) {
    if (g_tty >= 0) ::tcsetattr(g_tty, TCSAFLUSH, &g_saved);
    if (::write(g_tty, "\n", 1) < 0) {
    }
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

}  // namespace

std::optional<std::string> prompt_password(std::string &error) {
    int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (tty < 0) {
        error = "no password: give --password-file or $VELLOR_PASSWORD (no terminal to ask on)";
        return std::nullopt;
    }
    const char ask[] = "Password: ";
    if (::write(tty, ask, sizeof ask - 1) < 0) error = "cannot write to the terminal";
    termios old{};
    bool restore = ::tcgetattr(tty, &old) == 0;
    if (restore) {
        g_tty = tty;
        g_saved = old;
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::signal(sig, restore_and_reraise);
        termios quiet = old;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(tty, TCSAFLUSH, &quiet);
    }
    std::string line;
    char c;
    while (::read(tty, &c, 1) == 1 && c != '\n') line += c;
    if (restore) {
        ::tcsetattr(tty, TCSAFLUSH, &old);
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::signal(sig, SIG_DFL);
        g_tty = -1;
    }
    if (::write(tty, "\n", 1) < 0) error = "cannot write to the terminal";
    ::close(tty);
    return line;
}

void set_env(const char *name, const std::string &value) { ::setenv(name, value.c_str(), 1); }
void unset_env(const char *name) { ::unsetenv(name); }

bool make_private_folder(std::string &dir) {
    char pattern[] = "/tmp/vellor-XXXXXX";
    if (!::mkdtemp(pattern)) return false;
    dir = pattern;
    return true;
}

bool link_path(const std::string &target, const std::string &link) {
    return ::symlink(target.c_str(), link.c_str()) == 0;
}

bool readable(const std::string &path) { return ::access(path.c_str(), R_OK) == 0; }

namespace {

long long now_ms() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

// Takes what the pipe holds now (non-blocking) into `out`; false at its end,
// on an error, or when more than `most` bytes came.
bool drain(int fd, std::string &out, std::size_t most, bool &too_much) {
    char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) != 0;) {
        if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;  // still open
        out.append(buf, static_cast<std::size_t>(n));
        if (out.size() > most) return too_much = true, false;
    }
    return false;
}

// The command in a process group of its own, its standard output the pipe.
pid_t start_command(const std::string &command, int pipe_fds[2]) {
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return -1;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        ::dup2(pipe_fds[1], STDOUT_FILENO);
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(pipe_fds[1]);
    if (pid < 0)
        ::close(pipe_fds[0]);
    else
        ::setpgid(pid, pid);
    return pid;
}

}  // namespace

std::optional<std::string> command_output(const std::string &command, long wait_ms, std::size_t most,
                                          std::string &error) {
    int fds[2];
    pid_t pid = start_command(command, fds);
    if (pid < 0) {
        error = "cannot run the token command";
        return std::nullopt;
    }
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    std::string out;
    bool too_much = false, open = true;
    int status = 0;
    pid_t ended = 0;
    for (long long end = now_ms() + wait_ms; ended == 0 && !too_much && now_ms() < end;) {
        pollfd p{fds[0], POLLIN, 0};
        if (open)
            ::poll(&p, 1, 50);
        else
            ::usleep(20000);  // the pipe is at its end: only the exit is awaited
        if (open) open = drain(fds[0], out, most, too_much);
        ended = ::waitpid(pid, &status, WNOHANG);
    }
    if (ended == pid && open) drain(fds[0], out, most, too_much);  // what it printed before it exited
    ::close(fds[0]);
    ::kill(-pid, SIGKILL);  // a child it left behind goes too
    if (ended != pid) ::waitpid(pid, &status, 0);
    if (too_much)
        error = "the token command printed more than " + std::to_string(most) + " bytes";
    else if (ended != pid)
        error = "the token command did not finish within " + std::to_string(wait_ms / 1000) + " s";
    else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        error = "the token command failed";
    else
        return out;
    return std::nullopt;
}

std::optional<std::string> read_small_file(const std::string &path, std::size_t most, std::string &error) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::size_t>(st.st_size) > most) {
        error = fd < 0 ? "cannot read " + path + ": " + std::strerror(errno)
                       : path + " is not a regular file of at most " + std::to_string(most) + " bytes";
        if (fd >= 0) ::close(fd);
        return std::nullopt;
    }
    std::string text(static_cast<std::size_t>(st.st_size), '\0');
    ssize_t got = 0;
    for (ssize_t n; got < st.st_size && (n = ::read(fd, text.data() + got, text.size() - got)) > 0;) got += n;
    ::close(fd);
    text.resize(static_cast<std::size_t>(got));
    return text;
}

namespace {

bool write_all(int fd, const std::string &text) {
    for (std::size_t at = 0; at < text.size();) {
        ssize_t n = ::write(fd, text.data() + at, text.size() - at);
        if (n <= 0) return false;
        at += static_cast<std::size_t>(n);
    }
    return ::fsync(fd) == 0;
}

// The whole text of an open regular file.
bool read_all(int fd, std::string &text) {
    char buf[65536];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) != 0;) {
        if (n < 0) return false;
        text.append(buf, static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

bool rewrite_file(const std::string &path, std::string (*change)(const std::string &), std::string &error) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);  // a link put there since: not read
    struct stat st {};
    std::string text;
    bool ok = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {  // a sender holds it: left as it is
        ::close(fd);
        return true;
    }
    ok = ok && read_all(fd, text);
    std::string changed = ok ? change(text) : std::string();
    if (ok && changed != text) {
        std::string temp = path.substr(0, path.rfind('/') + 1) + ".vellor-XXXXXX";  // the same folder
        int out = ::mkstemp(temp.data());
        ok = out >= 0 && ::fchmod(out, st.st_mode & 07777) == 0 && write_all(out, changed);
        if (out >= 0) ::close(out);
        ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
        if (!ok && out >= 0) ::unlink(temp.c_str());
    }
    if (!ok) error = "cannot rewrite " + path + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);  // the lock goes with it, after the rename
    return ok;
}

std::string default_options_file() {
    const char *env = std::getenv("VELLORAPI_REGISTRY");
    return env && *env ? env : "/etc/vellorapi/registry.reg";
}

}  // namespace cli::sys
