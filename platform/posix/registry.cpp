// Parser of the registry export file and the three registry calls.
//
// Accepted: a first line "REGEDIT4" or "Windows Registry Editor Version
// 5.00" (UTF-8 with or without BOM, or UTF-16LE with BOM as regedit writes
// it), sections in brackets, and values "name"=dword:XXXXXXXX, "name"="text"
// (with \\ and \" escapes), "name"=hex:41,42 or hex(N):.. (lines continued
// with a trailing backslash), "name"=- (deleted). Section and value names
// compare without regard to case.
//
// A file that is missing, lacks the header, or holds a line in the wanted
// section that cannot be parsed is treated as a missing key: the option
// readers then use their missing-key defaults. The text of a value line
// that cannot be parsed stays known by its name (RegUnparsedValue), so a
// reader that must not fall back to a default can refuse it. Lines outside the section are
// not examined beyond finding section headers.
#include "platform/registry.h"

#include <strings.h>
#include <sys/stat.h>

#include <ctime>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/files.h"
#include "platform/posix/syscalls.h"

namespace vellor::reg {
namespace {

constexpr const char *kRoot = "HKEY_LOCAL_MACHINE\\";

struct NoCase {
    bool operator()(const std::string &a, const std::string &b) const { return ::strcasecmp(a.c_str(), b.c_str()) < 0; }
};

struct Value {
    uint32_t type = 0;  // REG_SZ for "text", REG_DWORD for dword:, REG_BINARY for hex:, N for hex(N):
    std::vector<uint8_t> bytes;
};

struct Key {
    std::map<std::string, Value, NoCase> values;
    std::map<std::string, std::string, NoCase> unparsed;  // a value's name and its text as written
    bool broken = false;                                  // a line that cannot be parsed: no usable key
};

std::optional<std::string> read_file(const std::string &path) {
    int fd = files::open_read(path);
    if (fd < 0) return std::nullopt;
    // A short read of a regular file is its end, so a small file costs one read.
    std::string text;
    char buf[8192];
    ssize_t got;
    while ((got = sys::table().read(fd, buf, sizeof buf)) > 0) {
        text.append(buf, static_cast<std::size_t>(got));
        if (static_cast<std::size_t>(got) < sizeof buf || text.size() >= (16u << 20)) break;
    }
    if (got < 0) {
        files::close(fd);
        return std::nullopt;
    }
    files::close(fd);
    return text;
}

// UTF-16LE (with BOM) to 8-bit by dropping the high bytes; UTF-8 BOM removed.
std::string to_narrow(const std::string &raw) {
    if (raw.size() >= 2 && static_cast<uint8_t>(raw[0]) == 0xFF && static_cast<uint8_t>(raw[1]) == 0xFE) {
        std::string out;
        for (std::size_t i = 2; i + 1 < raw.size(); i += 2) out += raw[i];
        return out;
    }
    if (raw.compare(0, 3, "\xEF\xBB\xBF") == 0) return raw.substr(3);
    return raw;
}

// Logical lines: CR removed, backslash-continued lines joined. Linear in
// the text: whether the line being joined is a hex value is decided once,
// not by searching the joined text again at every continuation.
std::vector<std::string> logical_lines(const std::string &text) {
    std::vector<std::string> out;
    std::string cur;
    bool cur_hex = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        pos = nl == std::string::npos ? text.size() : nl + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        bool cont = !line.empty() && line.back() == '\\' && (cur_hex || line.find("=hex") != std::string::npos);
        if (cont) {
            line.pop_back();
            std::size_t s = 0;
            while (s < line.size() && (line[s] == ' ' || line[s] == '\t') && !cur.empty()) ++s;
            cur.append(line, s, std::string::npos);
            cur_hex = true;
            continue;
        }
        if (!cur.empty()) {
            std::size_t s = 0;
            while (s < line.size() && (line[s] == ' ' || line[s] == '\t')) ++s;
            cur.append(line, s, std::string::npos);
            line.swap(cur);
            cur.clear();
        }
        cur_hex = false;
        out.push_back(std::move(line));
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

std::string trim(const std::string &s) {
    std::size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return {};
    std::size_t b = s.find_last_not_of(" \t");
    return s.substr(a, b - a + 1);
}

// Parses "..." at s[pos] with \\ and \" escapes; pos moves past the quote.
bool parse_quoted(const std::string &s, std::size_t &pos, std::string &out) {
    if (pos >= s.size() || s[pos] != '"') return false;
    ++pos;
    out.clear();
    while (pos < s.size()) {
        char c = s[pos++];
        if (c == '"') return true;
        if (c == '\\' && pos < s.size()) c = s[pos++];
        out += c;
    }
    return false;
}

bool parse_hex_bytes(const std::string &s, std::vector<uint8_t> &out) {
    std::size_t pos = 0;
    while (pos < s.size()) {
        while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t' || s[pos] == ',')) ++pos;
        if (pos >= s.size()) break;
        char *end = nullptr;
        std::string tok = s.substr(pos, 2);
        long v = std::strtol(tok.c_str(), &end, 16);
        if (end == tok.c_str() || v < 0 || v > 255) return false;
        out.push_back(static_cast<uint8_t>(v));
        pos += static_cast<std::size_t>(end - tok.c_str());
    }
    return true;
}

enum class Parsed { Value, Deleted, Skip, Bad };

Parsed parse_value(const std::string &line, std::string &name, std::vector<uint8_t> &data, uint32_t &type) {
    std::string t = trim(line);
    if (t.empty() || t[0] == ';') return Parsed::Skip;
    if (t[0] == '@') return Parsed::Skip;  // the key's default value: not used
    std::size_t pos = 0;
    if (!parse_quoted(t, pos, name)) return Parsed::Bad;
    while (pos < t.size() && t[pos] == ' ') ++pos;
    if (pos >= t.size() || t[pos] != '=') return Parsed::Bad;
    std::string v = trim(t.substr(pos + 1));
    data.clear();
    if (v == "-") return Parsed::Deleted;
    if (!v.empty() && v[0] == '"') {
        std::size_t p = 0;
        std::string text;
        if (!parse_quoted(v, p, text)) return Parsed::Bad;
        data.assign(text.begin(), text.end());
        data.push_back(0);
        type = REG_SZ;
        return Parsed::Value;
    }
    if (::strncasecmp(v.c_str(), "dword:", 6) == 0) {
        std::string hex = v.substr(6);
        if (hex.empty() || hex.size() > 8 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            return Parsed::Bad;
        uint32_t x = static_cast<uint32_t>(std::strtoul(hex.c_str(), nullptr, 16));
        for (int i = 0; i < 4; ++i) data.push_back(static_cast<uint8_t>(x >> (8 * i)));
        type = REG_DWORD;
        return Parsed::Value;
    }
    if (::strncasecmp(v.c_str(), "hex", 3) == 0) {
        std::size_t colon = v.find(':');
        if (colon == std::string::npos) return Parsed::Bad;
        type = v[3] == '(' ? static_cast<uint32_t>(std::strtoul(v.c_str() + 4, nullptr, 16)) : REG_BINARY;
        return parse_hex_bytes(v.substr(colon + 1), data) ? Parsed::Value : Parsed::Bad;
    }
    return Parsed::Bad;
}

// Keeps the name and text of a value line that cannot be parsed.
void note_unparsed(const std::string &line, Key &key) {
    std::string t = trim(line), name;
    std::size_t pos = 0;
    if (!parse_quoted(t, pos, name)) return;
    while (pos < t.size() && t[pos] == ' ') ++pos;
    if (pos < t.size() && t[pos] == '=') key.unparsed[name] = trim(t.substr(pos + 1));
}

Key *load_key(const std::string &subKey) {
    auto raw = read_file(registry_path());
    if (!raw) return nullptr;
    std::vector<std::string> lines = logical_lines(to_narrow(*raw));
    if (lines.empty()) return nullptr;
    std::string head = trim(lines[0]);
    if (head != "REGEDIT4" && head != "Windows Registry Editor Version 5.00") return nullptr;
    std::string want = std::string(kRoot) + subKey;
    bool inside = false, found = false;
    auto key = std::make_unique<Key>();
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::string t = trim(lines[i]);
        if (!t.empty() && t[0] == '[') {
            std::string sec = t.back() == ']' ? t.substr(1, t.size() - 2) : std::string();
            inside = ::strcasecmp(sec.c_str(), want.c_str()) == 0;
            found = found || inside;
            continue;
        }
        if (!inside) continue;
        std::string name;
        std::vector<uint8_t> data;
        uint32_t type = 0;
        switch (parse_value(lines[i], name, data, type)) {
            case Parsed::Value:
                key->values[name] = Value{type, data};
                break;
            case Parsed::Deleted:
                key->values.erase(name);
                break;
            case Parsed::Skip:
                break;
            case Parsed::Bad:
                key->broken = true;
                note_unparsed(lines[i], *key);
                break;
        }
    }
    return found ? key.release() : nullptr;
}

}  // namespace

std::string registry_path() {
    const char *env = std::getenv("VELLORAPI_REGISTRY");
    return env && *env ? env : "/etc/vellorapi/registry.reg";
}

namespace {

// The last file parsed, kept while one stat shows the very file that was
// read: the same device, inode, size and modification time (nanoseconds),
// and that time more than 50 ms before the read. So every option read sees
// every edit of the file made before it: an edit changes the inode (a file
// written anew and renamed), the size or the modification time, and one
// made so close to the read that the file system's coarse clock could give
// it the same time is caught by the margin (such a file is read again).
struct Cache {
    std::mutex mu;
    std::string path, sub_key;
    struct stat st {};
    timespec read_at{};
    bool valid = false;
    std::shared_ptr<const Key> key;  // null: the file holds no usable key
};
Cache &cache() {
    static Cache *c = new Cache;
    return *c;
}

constexpr long kMarginNs = 50'000'000;

bool same_file(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

bool settled_before(const timespec &mtime, const timespec &read_at) {
    long long gap =
        (static_cast<long long>(read_at.tv_sec) - mtime.tv_sec) * 1'000'000'000LL + (read_at.tv_nsec - mtime.tv_nsec);
    return gap > kMarginNs;
}

// The key of the file at path, from the cache or read afresh; null when missing.
std::shared_ptr<const Key> current_key(const std::string &path, const std::string &sub) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return nullptr;
    Cache &c = cache();
    std::lock_guard<std::mutex> g(c.mu);
    if (c.valid && c.path == path && c.sub_key == sub && same_file(c.st, st) && settled_before(st.st_mtim, c.read_at))
        return c.key;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::unique_ptr<Key> k(load_key(sub));
    c.path = path;
    c.sub_key = sub;
    c.st = st;
    c.read_at = now;
    c.valid = true;
    c.key = std::shared_ptr<const Key>(k.release());
    return c.key;
}

}  // namespace

long RegOpenKeyExA(HKEY root, const char *subKey, uint32_t, uint32_t, HKEY *result) {
    if (!result) return ERROR_FILE_NOT_FOUND;
    *result = nullptr;
    if (root != HKEY_LOCAL_MACHINE || !subKey) return ERROR_FILE_NOT_FOUND;
    std::shared_ptr<const Key> k = current_key(registry_path(), subKey);
    if (!k || k->broken) return ERROR_FILE_NOT_FOUND;
    *result = new std::shared_ptr<const Key>(std::move(k));  // an opened key holds the parsed file
    return ERROR_SUCCESS;
}

std::string RegUnparsedValue(const char *subKey, const char *name) {
    if (!subKey || !name) return {};
    std::shared_ptr<const Key> k = current_key(registry_path(), subKey);
    if (!k) return {};
    auto it = k->unparsed.find(name);
    return it == k->unparsed.end() ? std::string() : it->second;
}

long RegQueryValueExA(HKEY key, const char *name, uint32_t *, uint32_t *type, uint8_t *data, uint32_t *size) {
    if (!key || !name) return ERROR_FILE_NOT_FOUND;
    const auto &values = (*static_cast<std::shared_ptr<const Key> *>(key))->values;
    auto it = values.find(name);
    if (it == values.end()) return ERROR_FILE_NOT_FOUND;
    if (type) *type = it->second.type;
    const auto &bytes = it->second.bytes;
    if (!size) return ERROR_SUCCESS;
    if (bytes.size() > *size) {
        *size = static_cast<uint32_t>(bytes.size());
        return ERROR_MORE_DATA;
    }
    if (data && !bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
    *size = static_cast<uint32_t>(bytes.size());
    return ERROR_SUCCESS;
}

long RegCloseKey(HKEY key) {
    delete static_cast<std::shared_ptr<const Key> *>(key);
    return ERROR_SUCCESS;
}

}  // namespace vellor::reg
