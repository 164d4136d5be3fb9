// Password sources for the vellor tool.
#include "password.h"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace cli {
namespace {

std::string first_line(const std::string &text) {
    std::string line = text.substr(0, text.find('\n'));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

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

std::optional<std::string> prompt(std::string &error) {
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
    return first_line(line);
}

}  // namespace

std::optional<std::string> find_password(const std::string &file, std::string &error) {
    if (!file.empty()) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            error = "cannot read the password file " + file;
            return std::nullopt;
        }
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return first_line(text);
    }
    if (const char *env = std::getenv("VELLOR_PASSWORD")) return std::string(env);
    return prompt(error);
}

}  // namespace cli
