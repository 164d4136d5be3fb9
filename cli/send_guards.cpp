// The tool's guards; see send_guards.h.
#include "send_guards.h"

#include "system.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <sstream>

namespace cli {

namespace fs = std::filesystem;

namespace {
char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }
bool less_nocase(const std::string &a, const std::string &b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return lower(x) < lower(y); });
}
bool ends_with_nocase(const std::string &name, const std::string &tail) {
    return name.size() > tail.size() && equal_nocase(name.substr(name.size() - tail.size()), tail);
}
std::vector<std::string> names_in(const std::string &dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    return names;
}
}  // namespace

bool equal_nocase(const std::string &a, const std::string &b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

bool contains_nocase(const std::string &text, const std::string &part) {
    return std::search(text.begin(), text.end(), part.begin(), part.end(),
                       [](char x, char y) { return lower(x) == lower(y); }) != text.end() ||
           part.empty();
}

bool is_dotted_ipv4(const std::string &text) {
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && (at >= text.size() || text[at++] != '.')) return false;
        std::size_t from = at;
        while (at < text.size() && at - from < 4 && std::isdigit(static_cast<unsigned char>(text[at]))) ++at;
        std::size_t n = at - from;
        if (n == 0 || n > 3 || (n > 1 && text[from] == '0') || std::stoi(text.substr(from, n)) > 255) return false;
    }
    return at == text.size();
}

PathKind path_kind(const std::string &path) {
    std::error_code ec;
    fs::file_status st = fs::status(path, ec);
    if (ec || !fs::exists(st)) return PathKind::Missing;
    bool listable = fs::is_directory(st) && (fs::directory_iterator(path, ec), !ec);
    if (fs::is_directory(st)) return listable ? PathKind::Directory : PathKind::Unreadable;
    return fs::is_regular_file(st) && sys::readable(path) ? PathKind::File : PathKind::Unreadable;
}

namespace {
std::vector<std::string> regular_files(const std::string &dir, bool of_extension, const std::string &extension) {
    std::vector<std::string> out;
    for (const std::string &name : names_in(dir)) {
        std::error_code ec;
        bool ours = ends_with_nocase(name, "." + extension);
        bool wanted = of_extension ? ours : !ours && !ends_with_nocase(name, ".ENV");
        if (wanted && fs::is_regular_file(fs::symlink_status(fs::path(dir) / name, ec))) out.push_back(name);
    }
    std::sort(out.begin(), out.end(), less_nocase);
    return out;
}
}  // namespace

std::vector<std::string> queued_files(const std::string &dir, const std::string &extension) {
    return regular_files(dir, true, extension);
}

std::vector<std::string> other_files(const std::string &dir, const std::string &extension) {
    return regular_files(dir, false, extension);
}

std::vector<std::string> without_envelope(const std::string &dir, const std::vector<std::string> &files) {
    std::vector<std::string> names = names_in(dir);
    std::vector<std::string> missing;
    for (const std::string &f : files) {
        std::string env = f.substr(0, f.rfind('.')) + ".ENV";
        bool found =
            std::any_of(names.begin(), names.end(), [&](const std::string &n) { return equal_nocase(n, env); });
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
    std::string name = fs::path(file).filename().string();
    std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot + 1 < name.size() && name.size() - dot - 1 <= 11) return name.substr(dot + 1);
    return name.substr(name.size() > 11 ? name.size() - 11 : 0);
}

namespace {

// A plain scanner over one line of a registry export (a regular expression
// recursing once per character overflowed the stack on long values).
struct LineScan {
    std::string_view s;
    std::size_t i = 0;
    bool at_end() const { return i >= s.size(); }
    void blanks() {
        while (!at_end() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    }
    bool word(std::string_view w) {  // without regard to letter case
        if (s.size() - i < w.size() || !equal_nocase(std::string(s.substr(i, w.size())), std::string(w))) return false;
        i += w.size();
        return true;
    }
    std::size_t hex_digits() {
        std::size_t from = i;
        while (!at_end() && std::isxdigit(static_cast<unsigned char>(s[i]))) ++i;
        return i - from;
    }
    bool quoted_text() {  // after the opening quote: \x pairs, up to the closing quote
        for (; !at_end(); ++i) {
            if (s[i] == '"') return ++i, true;
            if (s[i] == '\\' && ++i == s.size()) return false;
        }
        return false;
    }
    bool value() {
        if (word("-")) return true;
        if (word("dword:")) {
            std::size_t n = hex_digits();
            return n >= 1 && n <= 8;
        }
        if (word("\"")) return quoted_text();
        if (!word("hex")) return false;
        if (word("(") && (hex_digits() == 0 || !word(")"))) return false;
        if (!word(":")) return false;
        i = s.size();  // the bytes are not checked
        return true;
    }
};

// A line the library's reader takes inside the options key: blank, a
// comment, a default value, or "name"=value.
bool value_line(std::string_view line) {
    LineScan l{line};
    l.blanks();
    if (l.at_end() || l.s[l.i] == ';' || l.word("@=")) return true;
    if (!l.word("\"")) return false;
    std::size_t close = line.find('"', l.i);
    if (close == std::string_view::npos) return false;
    l.i = close + 1;
    l.blanks();
    if (!l.word("=")) return false;
    l.blanks();
    if (!l.value()) return false;
    l.blanks();
    return l.at_end();
}

}  // namespace

// A security option the library cannot use, which makes it refuse every
// send (907): SecureConnection, TLSVerifyPeer or DNSSECTrusted not a dword
// it knows, or TLSCAFile or MTASTSCacheFile not a text. Empty when the line holds none of them or a usable one.
std::string unusable_security(const std::string &line) {
    constexpr const char *kHexDigits = "0123456789abcdefABCDEF";
    std::size_t open = line.find_first_not_of(" \t"), close = line.find('"', open + 1);
    if (open == std::string::npos || line[open] != '"' || close == std::string::npos) return "";
    std::string name = line.substr(open + 1, close - open - 1);
    bool text = equal_nocase(name, "TLSCAFile") || equal_nocase(name, "MTASTSCacheFile");
    if (!equal_nocase(name, "SecureConnection") && !equal_nocase(name, "TLSVerifyPeer") &&
        !equal_nocase(name, "DNSSECTrusted") && !text)
        return "";
    std::size_t eq = line.find_first_not_of(" \t", close + 1);
    if (eq == std::string::npos || line[eq] != '=') return "";
    std::size_t from = line.find_first_not_of(" \t", eq + 1), to = line.find_last_not_of(" \t");
    std::string value = from == std::string::npos ? "" : line.substr(from, to - from + 1);
    if (value.size() > 40) value = value.substr(0, 40) + "...";  // shown in a warning only
    bool ok;
    if (text)
        ok = value == "-" || (!value.empty() && value[0] == '"');
    else {
        unsigned long most = equal_nocase(name, "SecureConnection") ? 4 : 1;
        std::string digits = value.size() > 6 && equal_nocase(value.substr(0, 6), "dword:") ? value.substr(6) : "";
        bool dword = !digits.empty() && digits.size() <= 8 && digits.find_first_not_of(kHexDigits) == std::string::npos;
        ok = value == "-" || (dword && std::strtoul(digits.c_str(), nullptr, 16) <= most);
    }
    return ok ? "" : name + " is " + value + ", which the library cannot use: it refuses every send (code 907)";
}

constexpr std::uintmax_t kOptionsFileMost = 16u << 20;

std::string registry_warning() {
    std::string path = sys::default_options_file();
    std::error_code ec;
    if (path.empty() || !fs::exists(path, ec)) return "";
    // Only a regular file is read, and only up to the size the library
    // reads: a FIFO, a device or a huge file never holds the check up.
    if (!fs::is_regular_file(path, ec) || fs::file_size(path, ec) > kOptionsFileMost)
        return "the options file " + path + " is not a regular file of at most 16 MiB: its options are not checked";
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
    bool inside = false;
    int number = 1;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '[') {
            inside = equal_nocase(line, "[HKEY_LOCAL_MACHINE\\Software\\orvane\\vellorapi\\Options]");
            continue;
        }
        std::string security = inside ? unusable_security(line) : "";
        if (!security.empty()) return "the options file " + path + " line " + std::to_string(number) + ": " + security;
        if (inside && !value_line(line) && line.find_first_not_of(" \t,0123456789abcdefABCDEF\\") != std::string::npos)
            return "the options file " + path + " line " + std::to_string(number) +
                   " cannot be parsed: the library ignores every option and uses its defaults";
    }
    return "";
}

}  // namespace cli
