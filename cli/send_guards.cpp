// The tool's guards; see send_guards.h.
#include "send_guards.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>

namespace cli {

PathKind path_kind(const std::string &path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return PathKind::Missing;
    if (S_ISDIR(st.st_mode)) return ::access(path.c_str(), R_OK | X_OK) == 0 ? PathKind::Directory : PathKind::Unreadable;
    return S_ISREG(st.st_mode) && ::access(path.c_str(), R_OK) == 0 ? PathKind::File : PathKind::Unreadable;
}

namespace {
bool ends_with_nocase(const std::string &name, const char *tail) {
    std::size_t n = std::strlen(tail);
    return name.size() > n && ::strcasecmp(name.c_str() + name.size() - n, tail) == 0;
}
}  // namespace

std::vector<std::string> queued_files(const std::string &dir) {
    std::vector<std::string> out;
    if (DIR *d = ::opendir(dir.c_str())) {
        while (dirent *e = ::readdir(d)) {
            std::string name = e->d_name;
            struct stat st;
            if (ends_with_nocase(name, ".txt") && ::lstat((dir + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode))
                out.push_back(name);
        }
        ::closedir(d);
    }
    std::sort(out.begin(), out.end(), [](const std::string &a, const std::string &b) { return ::strcasecmp(a.c_str(), b.c_str()) < 0; });
    return out;
}

std::vector<std::string> without_envelope(const std::string &dir, const std::vector<std::string> &files) {
    std::vector<std::string> names;
    if (DIR *d = ::opendir(dir.c_str())) {
        while (dirent *e = ::readdir(d)) names.emplace_back(e->d_name);
        ::closedir(d);
    }
    std::vector<std::string> missing;
    for (const std::string &f : files) {
        std::string env = f.substr(0, f.rfind('.')) + ".ENV";
        bool found = std::any_of(names.begin(), names.end(), [&](const std::string &n) { return ::strcasecmp(n.c_str(), env.c_str()) == 0; });
        if (!found) missing.push_back(f);
    }
    return missing;
}

std::string with_crlf(const std::string &text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

std::string file_extension_for(const std::string &file) {
    std::string name = file.substr(file.rfind('/') + 1);
    std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot + 1 < name.size() && name.size() - dot - 1 <= 11) return name.substr(dot + 1);
    return name.substr(name.size() > 11 ? name.size() - 11 : 0);
}

std::string registry_warning() {
    const char *env = std::getenv("VELLORAPI_REGISTRY");
    std::string path = env && *env ? env : "/etc/vellorapi/registry.reg";
    if (::access(path.c_str(), F_OK) != 0) return "";
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    if (!in) return "the options file " + path + " cannot be read: the library uses its defaults";
    std::string raw = all.str(), text;
    if (raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFF && static_cast<unsigned char>(raw[1]) == 0xFE) {
        for (std::size_t i = 2; i + 1 < raw.size(); i += 2) text += raw[i];
    } else {
        text = raw.compare(0, 3, "\xEF\xBB\xBF") == 0 ? raw.substr(3) : raw;
    }
    std::istringstream lines(text);
    std::string first;
    std::getline(lines, first);
    if (!first.empty() && first.back() == '\r') first.pop_back();
    if (first != "REGEDIT4" && first != "Windows Registry Editor Version 5.00")
        return "the options file " + path + " has no REGEDIT4 header: the library ignores it and uses its defaults";
    static const std::regex value(R"(\s*(;.*|@=.*|"[^"]*"\s*=\s*(-|dword:[0-9a-fA-F]{1,8}|"([^"\\]|\\.)*"|hex(\([0-9a-fA-F]+\))?:.*))?\s*)",
                                  std::regex::icase);
    bool inside = false;
    int number = 1;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '[') {
            inside = ::strcasecmp(line.c_str(), "[HKEY_LOCAL_MACHINE\\Software\\orvane\\vellorapi\\Options]") == 0;
            continue;
        }
        if (inside && !std::regex_match(line, value) && line.find_first_not_of(" \t,0123456789abcdefABCDEF\\") != std::string::npos)
            return "the options file " + path + " line " + std::to_string(number) +
                   " cannot be parsed: the library ignores every option and uses its defaults";
    }
    return "";
}

}  // namespace cli
