// The tool's system calls on Windows; see system.h. The library reads its
// options from the system registry only, so the tool cannot hand it options
// of its own here.
#include "system.h"

#include <windows.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace cli::sys {

const char kSeparator = '\\';

bool stderr_is_terminal() { return ::_isatty(::_fileno(stderr)) != 0; }

std::optional<std::string> prompt_password(std::string &error) {
    HANDLE in = ::CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    DWORD mode = 0;
    if (in == INVALID_HANDLE_VALUE || !::GetConsoleMode(in, &mode)) {
        if (in != INVALID_HANDLE_VALUE) ::CloseHandle(in);
        error = "no password: give --password-file or $VELLOR_PASSWORD (no console to ask on)";
        return std::nullopt;
    }
    std::fputs("Password: ", stderr);
    ::SetConsoleMode(in, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    std::string line;
    char c;
    DWORD got = 0;
    while (::ReadFile(in, &c, 1, &got, nullptr) && got == 1 && c != '\n') {
        if (c != '\r') line += c;
    }
    ::SetConsoleMode(in, mode);
    ::CloseHandle(in);
    std::fputs("\n", stderr);
    return line;
}

void set_env(const char *name, const std::string &value) { ::_putenv_s(name, value.c_str()); }
void unset_env(const char *name) { ::_putenv_s(name, ""); }

bool make_private_folder(std::string &dir) {
    char base[MAX_PATH + 1];
    DWORD n = ::GetTempPathA(sizeof base, base);
    if (n == 0 || n > MAX_PATH) return false;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = std::string(base) + "vellor-" + std::to_string(::GetCurrentProcessId()) + "-" +
                                std::to_string(::GetTickCount() + attempt);
        if (::CreateDirectoryA(candidate.c_str(), nullptr)) {  // the user's own temporary folder
            dir = candidate;
            return true;
        }
    }
    return false;
}

bool link_path(const std::string &, const std::string &) { return false; }

bool readable(const std::string &path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

// Bounded in size; the C runtime's pipe gives no time bound here.
std::optional<std::string> command_output(const std::string &command, long, std::size_t most, std::string &error) {
    FILE *out = ::_popen(command.c_str(), "rb");
    if (!out) {
        error = "cannot run the token command";
        return std::nullopt;
    }
    std::string text;
    char buf[4096];
    for (std::size_t n; text.size() <= most && (n = std::fread(buf, 1, sizeof buf, out)) > 0;) text.append(buf, n);
    int status = ::_pclose(out);
    if (text.size() > most)
        error = "the token command printed more than " + std::to_string(most) + " bytes";
    else if (status != 0)
        error = "the token command failed";
    else
        return text;
    return std::nullopt;
}

std::optional<std::string> read_small_file(const std::string &path, std::size_t most, std::string &error) {
    std::error_code ec;
    std::uintmax_t size =
        std::filesystem::is_regular_file(path, ec) ? std::filesystem::file_size(path, ec) : std::uintmax_t{most} + 1;
    if (ec || size > most) {
        error = path + " is not a regular file of at most " + std::to_string(most) + " bytes";
        return std::nullopt;
    }
    FILE *in = std::fopen(path.c_str(), "rb");
    if (!in) {
        error = "cannot read " + path;
        return std::nullopt;
    }
    std::string text(static_cast<std::size_t>(size), '\0');  // the file's size: a 32-bit process has no room for most
    text.resize(std::fread(text.data(), 1, text.size(), in));
    std::fclose(in);
    return text;
}

bool rewrite_file(const std::string &path, std::string (*change)(const std::string &), std::string &error) {
    auto text = read_small_file(path, std::size_t{1} << 30, error);
    if (!text) return false;
    std::string changed = change(*text);
    if (changed == *text) return true;
    std::string temp = path + ".vellor-new";
    FILE *out = std::fopen(temp.c_str(), "wb");
    bool ok = out && std::fwrite(changed.data(), 1, changed.size(), out) == changed.size();
    if (out) ok = std::fclose(out) == 0 && ok;
    // A file a sender holds open (claimed) cannot be replaced: left as it is.
    if (ok && ::MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    ::DeleteFileA(temp.c_str());
    return true;
}

std::string default_options_file() { return ""; }

}  // namespace cli::sys
