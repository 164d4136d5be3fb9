// The tool's system calls on POSIX systems; see system.h.
#include "system.h"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

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

FILE *open_command(const std::string &command) { return ::popen(command.c_str(), "r"); }

int close_command(FILE *out) { return ::pclose(out); }

std::string default_options_file() {
    const char *env = std::getenv("VELLORAPI_REGISTRY");
    return env && *env ? env : "/etc/vellorapi/registry.reg";
}

}  // namespace cli::sys
