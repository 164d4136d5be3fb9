// Transcript tests: each case in tests/data/*.cases is a row of data — the
// scripted servers' side of the dialogue, the DNS answers, the request, the
// options and the files — sent through VELLOR_Send_Message (or another
// export), then checked against what each server received, the result, the
// record's fields, the reports, the log and the files left. Each case says
// all it uses; tests/data/README.md gives the grammar of every directive.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <type_traits>

#include "platform/global_memory.h"
#include "platform/posix/syscalls.h"
#include "support/dns_fixture.h"
#include "support/script_peer.h"
#include "support/test_env.h"
#include "support/tls_server.h"
#include "vellorapi.h"

using namespace testenv;

namespace {

// A case: its file's path, its title (a variant's number after it), the
// line of its "===" and each of its lines with the line it came from.
struct Case {
    std::string file, name, path, values;
    int line = 0;
    std::vector<std::pair<std::string, std::string>> lines;  // directive, rest
    std::vector<int> at;                                     // each line's line in the file
};
void PrintTo(const Case &c, std::ostream *os) {
    *os << c.path << ":" << c.line << ": " << c.name << (c.values.empty() ? "" : " [" + c.values + "]");
}

std::vector<std::string> words(const std::string &s) {
    std::vector<std::string> out;
    std::stringstream in(s);
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

// The shorthand lines: "mail FROM TO FILE TEXT" (one message file from one
// sender to one recipient), "envelope [FOLDER/]FILE TEXT" (a message file
// sent by its envelope, FILE.ENV, of that text), "login USER PASSWORD" (the
// record's login), "list ADDRESSES" (the recipient list, flagged as the
// send's recipients), "dns mx DOMAIN HOST=ADDRESS PREF" (an exchanger and its
// address), "expect fails CODE" (the call returned -1 with that code).
std::vector<std::string> expanded(const std::string &line) {
    std::vector<std::string> w = words(line);
    if (w.size() == 3 && w[0] == "login") return {"request szAuthUser " + w[1], "request szAuthPassword " + w[2]};
    if (w.size() == 3 && w[0] == "expect" && w[1] == "fails")
        return {"expect result -1", "expect field nErrorCode " + w[2]};
    if (w.size() > 2 && w[0] == "envelope") {
        const std::string &file = w[1];
        std::vector<std::string> out = {
            "file " + file + " Subject: x\\r\\n\\r\\nbody\\r\\n", "request szMessageFile {dir}/" + file,
            "request bUseEnvFile 1",
            "file " + file.substr(0, file.rfind('.')) + ".ENV " + line.substr(line.find(' ', 9) + 1)};
        if (file.find('/') != std::string::npos) out.insert(out.begin(), "folder " + file.substr(0, file.find('/')));
        return out;
    }
    if (w.size() > 1 && w[0] == "list") return {line, "request bSingleRecipient 0", "request bMultipleRecipients 1"};
    if (w.size() > 3 && w[0] == "dns" && w[1] == "mx") {  // HOST=ADDRESS: the host's A record too
        std::vector<std::string> out = {"dns mx"};
        for (std::size_t i = 2; i < w.size(); ++i) {
            std::size_t eq = w[i].find('=');
            out[0] += " " + w[i].substr(0, eq);
            if (eq != std::string::npos) out.push_back("dns a " + w[i].substr(0, eq) + " " + w[i].substr(eq + 1));
        }
        return out;
    }
    if (line.rfind("mail ", 0) != 0) return {line};
    std::istringstream in(line.substr(5));
    std::string from, to, file, text;
    in >> from >> to >> file >> std::ws;
    std::getline(in, text);
    return {"request szSender " + from, "request szRecipient " + to, "request bSingleRecipient 1",
            "file " + file + " " + text, "request szMessageFile {dir}/" + file};
}

// A case as written; "each A B | C D" makes it one case per variant, its
// words (or its values between ';', when it has one) standing for {1}
// {2}... in the other lines, the variants numbered after the title.
void add_case(std::vector<Case> &cases, const Case &head, const std::vector<std::pair<int, std::string>> &raw) {
    std::vector<std::vector<std::string>> variants{{}};
    for (const auto &[n, line] : raw)
        if (line.rfind("each ", 0) == 0) {
            variants.clear();
            std::stringstream in(line.substr(5));
            for (std::string v; std::getline(in, v, '|');) {
                std::vector<std::string> values;  // every one between ';', an empty last one too
                for (std::size_t start = 0, end = 0; end != std::string::npos; start = end + 1) {
                    end = v.find(';', start);
                    std::string part = v.substr(start, end == std::string::npos ? end : end - start);
                    part.erase(0, part.find_first_not_of(' '));
                    values.push_back(part.substr(0, part.find_last_not_of(' ') + 1));
                }
                variants.push_back(v.find(';') == std::string::npos ? words(v) : values);
            }
        }
    for (std::size_t k = 0; k < variants.size(); ++k) {
        const auto &v = variants[k];
        Case c = head;
        if (!v.empty()) c.name += " " + std::to_string(k + 1);
        for (const auto &word : v) c.values += (c.values.empty() ? "" : " ") + word;
        for (auto [n, line] : raw) {
            if (line.rfind("each ", 0) == 0) continue;
            for (std::size_t i = 0; i < v.size(); ++i)
                for (std::size_t at; (at = line.find("{" + std::to_string(i + 1) + "}")) != std::string::npos;)
                    line.replace(at, 3, v[i]);
            for (const std::string &each : expanded(line)) {
                std::size_t sp = each.find(' ');
                c.lines.emplace_back(each.substr(0, sp), sp == std::string::npos ? "" : each.substr(sp + 1));
                c.at.push_back(n);
            }
        }
        cases.push_back(c);
    }
}

std::vector<Case> load_cases() {
    std::vector<Case> cases;
    for (const char *file :
         {"relay", "delivery", "reliability", "entry", "details", "lookups", "tls", "ipv6", "mx_tls", "kept"}) {
        std::string path = std::string(VELLOR_TEST_DATA_DIR) + "/" + file + ".cases";
        std::ifstream in(path);
        Case head;
        std::vector<std::pair<int, std::string>> raw;
        int n = 0;
        for (std::string line; std::getline(in, line);) {
            ++n;
            if (line.empty() || line[0] == '#') continue;
            if (line.rfind("=== ", 0) == 0) {
                if (!head.name.empty()) add_case(cases, head, raw);
                head = Case{file, line.substr(4), path, "", n, {}, {}};
                raw.clear();
            } else if (head.name.empty())
                ADD_FAILURE() << path << ":" << n << ": a line before the first case";
            else
                raw.emplace_back(n, line);
        }
        if (!head.name.empty()) add_case(cases, head, raw);
    }
    return cases;
}

// The record's fields by name: text fields with their size, 16- and 32-bit
// numbers (little-endian: a number's low bytes come first).
struct Field {
    std::size_t offset, size;
    bool text;
};
// clang-format off
#define FIELD(f) {#f, Field{offsetof(SMTPSEND_STRUCTURE, f), sizeof(SMTPSEND_STRUCTURE::f), \
                     std::is_array_v<decltype(SMTPSEND_STRUCTURE::f)>}}
const std::map<std::string, Field> fields = {
    FIELD(szServer),       FIELD(szServerIP),       FIELD(szHeloDomain),        FIELD(szMessageFile),
    FIELD(szMsgExtension), FIELD(szSender),         FIELD(szAuthUser),          FIELD(szAuthPassword),
    FIELD(szRecipient),    FIELD(szErrorText),      FIELD(nPort),               FIELD(bDeleteMessage),
    FIELD(bUseEnvFile),    FIELD(bSingleRecipient), FIELD(bMultipleRecipients), FIELD(nRecipients),
    FIELD(nMaxMessages),   FIELD(nMessagesSent),    FIELD(nErrorCode),          FIELD(nWinsockError),
    FIELD(nMxIPAddresses), FIELD(nAttempt),         FIELD(bViaMX),              FIELD(bMessageDirectory)};
#undef FIELD
// clang-format on

void set_field(SMTPSEND_STRUCTURE &r, const std::string &name, const std::string &value) {
    const Field &f = fields.at(name);
    char *p = reinterpret_cast<char *>(&r) + f.offset;
    std::memset(p, 0, f.size);
    int32_t number = f.text ? 0 : std::stoi(value);
    if (f.text)
        std::memcpy(p, value.data(), std::min(value.size(), f.size));  // a value as long as the field: no NUL
    else
        std::memcpy(p, &number, f.size);
}

std::string get_field(const SMTPSEND_STRUCTURE &r, const std::string &name) {
    const Field &f = fields.at(name);
    const char *p = reinterpret_cast<const char *>(&r) + f.offset;
    if (f.text) return std::string(p, ::strnlen(p, f.size));
    int32_t number = 0;
    std::memcpy(&number, p, f.size);
    return std::to_string(f.size == 2 ? static_cast<int16_t>(number) : number);
}

// The certificates of the TLS cases, made once for the whole run in a
// folder removed at its end.
const std::string &certificates_folder() {
    static struct Folder {
        char dir[32] = "/tmp/vellor-certs-XXXXXX";
        Folder() { ::mkdtemp(dir); }
        ~Folder() { std::filesystem::remove_all(dir); }
    } folder;
    static const std::string certs = make_certificates(folder.dir);
    return certs;
}

void add_peer_step(Script &s, int &connections, const std::string &rest, const std::string &dir) {
    std::string word = rest.substr(0, rest.find(' '));
    std::string arg = rest.size() > word.size() ? rest.substr(word.size() + 1) : "";
    // repeat N STEP; STEP... (the steps N times), trickle MS TEXT, drip MS TEXT: what follows the number
    std::string then = arg.substr(arg.find(' ') + 1);
    if (word == "repeat") {
        for (int i = std::stoi(arg); i > 0; --i) {
            std::stringstream in(then);
            for (std::string step; std::getline(in >> std::ws, step, ';');) add_peer_step(s, connections, step, dir);
        }
    } else if (word == "trickle")  // trickle MS TEXT: the text, then a pause
        s.say(unescape(then)).pause(std::stoi(arg));
    else if (word == "drip")  // drip MS TEXT
        s.drip(unescape(then), std::stoi(arg));
    else if (word == "tls")
        s.tls(certificates_folder(), arg.empty() || arg == "fresh" ? 0 : std::stoi(arg), arg == "fresh");
    else if (word == "short")
        s.short_record(unescape(arg));
    else if (word == "accepts")  // accepts [N]: N messages over one connection, then QUIT read
        for (const std::string &step :
             {std::string("greets 250 hello"),
              "repeat " + (arg.empty() ? "1" : arg) + " replies 250 ok, 250 ok, 354 go; data 250 queued",
              std::string("line")})
            add_peer_step(s, connections, step, dir);
    else if (word == "takes")  // takes R1, R2...: greets with them, then one message accepted, then QUIT read
        for (const std::string &step : {"greets " + arg, std::string("data 250 queued"), std::string("line")})
            add_peer_step(s, connections, step, dir);
    else if (word == "say")
        s.say(unescape(arg));
    else if (word == "line")
        s.line();
    else if (word == "data") {  // data [REPLY]: the message read, then the reply
        s.data();
        if (!arg.empty()) s.say(unescape(arg) + "\r\n");
    } else if (word == "greets")  // greets R1, R2...: the greeting 220 hi, then the replies
        add_peer_step(s.say("220 hi\r\n"), connections, "replies " + arg, dir);
    else if (word == "close")
        s.close();
    else if (word == "next")  // the steps after it are for the next connection
        s.next();
    else if (word == "pause")
        s.pause(std::stoi(arg));
    else if (word == "remove")
        s.remove(dir + "/" + arg);
    else if (word == "replace" || word == "rewrite")
        s.write(dir + "/" + arg.substr(0, arg.find(' ')), unescape(arg.substr(arg.find(' ') + 1)), word == "replace");
    else if (word == "flood")  // bytes without a line end
        s.say(std::string(std::stoul(arg), 'g'));
    else if (word == "connections")
        connections = std::stoi(arg);
    else if (word == "replies") {  // one command read, then its reply, for each
        std::stringstream in(arg);
        for (std::string reply; std::getline(in, reply, ',');) {
            std::size_t start = reply.find_first_not_of(' ');
            s.line().say(unescape(reply.substr(start)) + "\r\n");
        }
    } else
        ADD_FAILURE() << "unknown peer step " << word;
}

// The socket seam of every case: each send's size is kept, and a send of a
// buffer that begins with the "fault send" prefix fails as a reset
// connection's would. Several connections may send at once: the sizes are
// kept under a lock.
std::string g_fail_prefix;
std::vector<std::size_t> g_send_sizes;
std::mutex g_send_sizes_lock;
ssize_t seam_send(int fd, const void *buf, size_t n, int flags) {
    {
        std::lock_guard<std::mutex> hold(g_send_sizes_lock);
        g_send_sizes.push_back(n);
    }
    if (!g_fail_prefix.empty() && std::string_view(static_cast<const char *>(buf), n).starts_with(g_fail_prefix)) {
        errno = EPIPE;
        return -1;
    }
    return ::send(fd, buf, n, flags);
}

// Message files are read by positioned reads: their bytes are counted.
std::atomic<uint64_t> g_read_bytes{0};
ssize_t seam_pread(int fd, void *buf, size_t n, off_t off) {
    ssize_t got = ::pread(fd, buf, n, off);
    if (got > 0) g_read_bytes += static_cast<uint64_t>(got);
    return got;
}

// "fault swap NAME OTHER": the first open of a path ending in /NAME renames
// OTHER, of the same folder, over it at once: the name then stands for
// another file than the one opened, as when another sender replaces it.
std::string g_swap_name, g_swap_other;
int seam_open_swap(const char *path, int flags, mode_t mode) {
    int fd = ::open(path, flags, mode);
    std::string p(path), end = "/" + g_swap_name;
    if (fd >= 0 && !g_swap_name.empty() && p.size() > end.size() &&
        p.compare(p.size() - end.size(), end.size(), end) == 0) {
        g_swap_name.clear();
        (void)::rename((p.substr(0, p.size() - end.size() + 1) + g_swap_other).c_str(), path);
    }
    return fd;
}

void add_fault(const std::vector<std::string> &w) {
    using vellor::gmem::Op;
    if (w.at(0) == "send")
        g_fail_prefix = w.at(1);
    else if (w.at(0) == "swap") {
        g_swap_name = w.at(1);
        g_swap_other = w.at(2);
        vellor::sys::table().open = seam_open_swap;
    } else if (w.at(0) == "unlink")  // the system refuses every removal
        vellor::sys::table().unlink = [](const char *) { return errno = EACCES, -1; };
    else
        vellor::gmem::fail_nth(w.at(1) == "Alloc" ? Op::Alloc
                               : w[1] == "Lock"   ? Op::Lock
                                                  : Op::ReAlloc,
                               std::stoi(w.at(2)));
}

// "peer@127.0.0.2" -> "127.0.0.2"; "peer" and "transcript" -> "127.0.0.1".
std::string address_of(const std::string &word) {
    std::size_t at = word.find('@');
    return at == std::string::npos ? "127.0.0.1" : word.substr(at + 1);
}

void make_queue(const TempEnv &env, const std::vector<std::string> &w) {
    std::string dir = env.path(w.at(0));
    ::mkdir(dir.c_str(), 0755);
    for (int i = 0; i < std::stoi(w.at(1)); ++i) {
        char n[32];
        std::snprintf(n, sizeof n, "/m%04d", i);
        std::string k = std::to_string(i);
        write_file(dir + n + ".txt", "Subject: " + k + "\r\n\r\nbody " + k + "\r\n");
        if (w.size() > 2)
            write_file(dir + n + ".env", "MAIL FROM: <q@origin.test>\r\nRCPT TO: <r" + k + "@dest.test>\r\n");
    }
}

int files_in(const std::string &dir) {
    std::error_code none;
    auto entries = std::filesystem::directory_iterator(dir, none);
    return static_cast<int>(std::distance(begin(entries), end(entries)));
}

std::string list_text(HGLOBAL list) {
    const char *p = list ? static_cast<const char *>(GlobalLock(list)) : nullptr;
    std::string text = p ? std::string(p, ::strnlen(p, GlobalSize(list))) : "";
    if (p) GlobalUnlock(list);
    return text;
}

// The lookups a case can call instead of a send; each leaves its result
// and what it found, written out.
struct Lookups {
    MXQUERY_STRUCTURE mx{};
    VALIDMXIPS valid{};  // kept from one "hosts" call to the next, as an application may
    std::string found;

    static std::string entries(const VALIDMXIPS &v) {
        std::string out;
        for (int i = 0; i < v.nValidIPs && i < VELLOR_MAX_VALID_MX; ++i)
            out += std::string(out.empty() ? "" : " | ") + (v.szIPAddress[i][0] ? v.szIPAddress[i] : "-") + " " +
                   v.szMxHost[i] + " " + std::to_string(v.nPreference[i]);
        return out;
    }
    // `w`: the call's words, escapes undone; "" stands for an empty word.
    int call(std::vector<std::string> w, SMTPSEND_STRUCTURE &req) {
        for (auto &word : w) word = word == "\"\"" ? "" : unescape(word);
        const std::string &what = w.at(0);
        int rc = 0;
        if (what == "lookup") return VELLOR_Perform_DNS_Lookup("App", &req);
        if (what == "mx") {
            mx = MXQUERY_STRUCTURE{};
            rc = VELLOR_Get_Mx_Servers(w.at(1).c_str(), &mx, "", 1);
            found = "type " + std::to_string(mx.nType) + ", " + std::to_string(mx.nMxServers);
        } else if (what == "hosts") {
            VELLOR_Resolve_MX_Hostnames_To_Ipaddresses(&mx, &valid);
            found = std::to_string(valid.nValidIPs) + ": " + entries(valid);
        } else if (what == "address") {
            TCPLIBRARY_STRUCTURE block{};
            TCPSESSION_STRUCTURE session{};
            char address[16] = {0};
            rc = KorvexAPI_Get_IPAddress_From_Hostname(&block, &session, w.at(1).c_str(), address);
            found = address;
        } else if (what == "resolve") {
            VALIDMXIPS v{};
            rc = VELLOR_resolve_mx_domain(w.at(1).c_str(), w.size() > 3 ? w[3].c_str() : "", &v, 0, std::stoi(w.at(2)));
            found = std::to_string(v.nValidIPs) + ": " + entries(v);
        } else {
            ADD_FAILURE() << "unknown call " << what;
        }
        return rc;
    }
};

// The servers, each with its script, all on one port.
std::map<std::string, std::unique_ptr<ScriptPeer>> start_peers(const Case &c, int port, const std::string &dir) {
    std::map<std::string, std::pair<Script, int>> scripts;
    for (const auto &[what, rest] : c.lines) {
        if (what.rfind("peer", 0) != 0) continue;
        auto &[script, connections] = scripts.try_emplace(address_of(what), Script(), 1).first->second;
        add_peer_step(script, connections, rest, dir);
    }
    std::map<std::string, std::unique_ptr<ScriptPeer>> peers;
    for (auto &[address, sc] : scripts)
        peers[address] = std::make_unique<ScriptPeer>(sc.first, address.c_str(), port, sc.second);
    return peers;
}

// One case: its folder, its DNS server, its scripted servers and TLS server
// on one port, the record, and what the send (or a call instead) gave back.
class Transcript : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        ::setenv("KORVEXAPI_TIMEOUT_MS", "3000", 1);
        live = vellor::gmem::live_blocks();
        g_fail_prefix.clear();
        vellor::sys::table().send = seam_send;
        vellor::sys::table().pread = seam_pread;
        prepare();
        peers = start_peers(GetParam(), port, env.dir());
        for (const auto &[what, rest] : GetParam().lines)  // a listener that never answers a connect
            if (what.rfind("stall@", 0) == 0)
                stalled.push_back(std::make_unique<StalledListener>(address_of(what).c_str(), port));
        ASSERT_NO_FATAL_FAILURE(start_tls());
        SMTPINIT_STRUCTURE lib{};
        VELLOR_Initialize_Library(&lib, 0, "App");
        VELLOR_Initialize_Structure(&lib, &req);
        std::strcpy(req.szServerIP, "127.0.0.1");
        req.nPort = port;
    }
    void TearDown() override {
        closedown();  // ends the sessions a case kept
        if (req.hRecipients) GlobalFree(req.hRecipients);
        if (req.hMessage) GlobalFree(req.hMessage);
        vellor::sys::reset_table();
        vellor::gmem::reset_faults();
        EXPECT_EQ(vellor::gmem::live_blocks(), live) << "global-memory blocks left alive";
        ::unsetenv("KORVEXAPI_TIMEOUT_MS");
        ::unsetenv("VELLOR_MTA_STS_PORT");
        for (const auto &[what, rest] : GetParam().lines)
            if (what == "env") ::unsetenv(words(rest).at(0).c_str());
    }

    std::string expand(std::string s) const {
        for (std::size_t at; (at = s.find("{certs}")) != std::string::npos;) s.replace(at, 7, certificates_folder());
        for (const auto &[name, value] : {std::pair<std::string, std::string>{"{dir}", env.dir()},
                                          {"{port}", std::to_string(port)},
                                          {"{port+65536}", std::to_string(port + 65536)},
                                          {"{dns}", "127.0.0.1:" + std::to_string(dns.port())},
                                          {"{dns-port}", std::to_string(dns.port())}})
            for (std::size_t at; (at = s.find(name)) != std::string::npos;) s.replace(at, name.size(), value);
        return s;
    }

    void prepare() {
        std::string options;
        for (const auto &[what, rest] : GetParam().lines) {
            std::vector<std::string> w = words(unescape(rest));
            if (what == "option") {  // a number, or a "text"
                std::string name = w.at(0), value = expand(rest.substr(name.size() + 1));
                char dword[20];
                if (value[0] != '"') std::snprintf(dword, sizeof dword, "dword:%08lx", std::stoul(value));
                options += "\"" + name + "\"=" + (value[0] == '"' ? value : std::string(dword)) + "\r\n";
            } else if (what == "timeout")
                ::setenv("KORVEXAPI_TIMEOUT_MS", rest.c_str(), 1);
            else if (what == "env")
                ::setenv(w.at(0).c_str(), w.size() > 1 ? expand(w[1]).c_str() : "", 1);
            else if (what == "queue")
                make_queue(env, w);
            else if (what == "folder")
                ::mkdir(env.path(rest).c_str(), 0755);
            else if (what == "fifo")
                ::mkfifo(env.path(rest).c_str(), 0600);
            else if (what == "link") {  // a target in the case's folder, or a path such as {certs}/ca.pem
                std::string target = expand(w.at(1));
                ::symlink((target[0] == '/' ? target : env.path(target)).c_str(), env.path(w.at(0)).c_str());
            } else if (what == "dns" && w.at(0) == "a")
                dns.a(w.at(1), std::vector<std::string>(w.begin() + 2, w.end()));
            else if (what == "dns" && w.at(0) == "tlsa") {  // NAME USAGE SELECTOR MATCHING PEM-FILE
                int selector = std::stoi(w.at(3)), matching = std::stoi(w.at(4));
                std::string data = tlsa_data(expand(w.at(5)), selector, matching);
                EXPECT_FALSE(data.empty()) << "no TLSA data for " << w[5];
                dns.tlsa(w[1], std::stoi(w[2]), selector, matching, data);
            } else if (what == "dns" && w.at(0) == "txt")
                dns.txt(w.at(1), rest.substr(rest.find(w[1]) + w[1].size() + 1));
            else if (what == "dns" && w.at(0) == "ad")
                for (std::size_t i = 1; i < w.size(); ++i) dns.authentic(w[i]);
            else if (what == "dns" && w.at(0) == "servfail")
                dns.servfail(w.at(1));
            else if (what == "dns" && w.at(0) == "silent" && w.size() > 1)
                dns.silent(w[1], w.size() > 2 ? std::stoi(w[2]) : 0);
            else if (what == "dns" && (w.at(0) == "garbage" || w.at(0) == "silent"))
                dns.mode(w[0] == "garbage" ? ScriptedDns::Mode::Garbage : ScriptedDns::Mode::Silent);
            else if (what == "dns" && w.at(0) == "mx") {
                std::vector<std::pair<std::string, int>> hosts;
                for (std::size_t i = 2; i + 1 < w.size(); i += 2) hosts.push_back({w[i], std::stoi(w[i + 1])});
                dns.mx(w.at(1), hosts);
            }
        }
        env.registry(options);
    }

    void start_tls() {
        for (const auto &[what, rest] : GetParam().lines) {
            if (what != "tls" && what.rfind("tls@", 0) != 0) continue;  // tls@::1: listening there
            std::vector<std::string> w = words(rest);
            w.resize(5);
            auto kind = w[0] == "node"   ? TlsServer::Kind::Node
                        : w[0] == "sink" ? TlsServer::Kind::Sink
                                         : TlsServer::Kind::Aiosmtpd;
            tls = std::make_unique<TlsServer>(env.dir(), kind, w[1], expand("{certs}"), w[2], port, w[3], w[4],
                                              address_of(what));
            ASSERT_TRUE(tls->ready()) << "the TLS server did not start";
        }
        for (const auto &[what, rest] : GetParam().lines) {
            if (what != "policy" || rest == "stop") continue;
            int at = free_port("127.0.0.1");
            policy = std::make_unique<PolicyServer>(env.dir(), expand("{certs}"), unescape(rest), at);
            ASSERT_TRUE(policy->ready()) << "the policy server did not start";
            ::setenv("VELLOR_MTA_STS_PORT", std::to_string(at).c_str(), 1);
        }
    }

    static void closedown() {
        SMTPINIT_STRUCTURE lib{};
        VELLOR_Closedown_Library(&lib, "App");
    }

    void send() {
        reports().clear();
        g_send_sizes.clear();
        g_read_bytes = 0;
        for (const auto &[what, rest] : GetParam().lines)  // armed last: the case's own blocks are made by now
            if (what == "fault") add_fault(words(rest));
        auto began = std::chrono::steady_clock::now();
        if (action.empty())
            result = VELLOR_Send_Message("App", &req, record_status);
        else
            result = action[0] == "details" ? VELLOR_Get_Message_Details(&req) : lookups.call(action, req);
        elapsed_ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began).count();
        sent = true;
    }

    void check(const std::string &rest) {
        std::string kind = rest.substr(0, rest.find(' '));
        std::string arg = expand(unescape(rest.size() > kind.size() ? rest.substr(kind.size() + 1) : ""));
        SCOPED_TRACE("expect " + rest);
        std::string base = kind.substr(0, kind.find('@'));
        auto peer = peers.find(address_of(kind));
        std::string got = base.rfind("transcript", 0) == 0 && peer != peers.end() ? peer->second->transcript() : "";
        if (base == "result")
            EXPECT_EQ(result, std::stoi(arg));
        else if (base == "within")
            EXPECT_LT(elapsed_ms, std::stol(arg));
        else if (base == "field") {
            std::string name = arg.substr(0, arg.find(' '));
            EXPECT_EQ(get_field(req, name), arg.size() > name.size() ? arg.substr(name.size() + 1) : "");
        } else if (base == "transcript")
            EXPECT_EQ(got, arg);
        else if (base == "transcript-starts")
            EXPECT_EQ(got.substr(0, arg.size()), arg);
        else if (base == "transcript-has")
            EXPECT_NE(got.find(arg), std::string::npos) << got;
        else if (base == "transcript-lacks")
            EXPECT_EQ(got.find(arg), std::string::npos) << got;
        else if (base == "accepted")
            EXPECT_EQ(peer == peers.end() ? 0 : peer->second->accepted(), std::stoi(arg));
        else if (base == "report" || base == "no-report" || base == "report-has" || base == "no-report-has") {
            std::stringstream in(arg);
            Report want{};
            in >> want.status >> want.code;
            std::getline(in >> std::ws, want.text, '\0');  // the rest, line ends included
            bool part = base.find("-has") != std::string::npos;
            bool found = std::any_of(reports().begin(), reports().end(), [&](const Report &r) {
                return r.status == want.status && r.code == want.code &&
                       (part ? r.text.find(want.text) != std::string::npos : r.text == want.text);
            });
            EXPECT_EQ(found, base.rfind("no-", 0) != 0);
        } else if (base == "shown") {  // STATUS FILE PART: that report made while the record showed FILE
            std::vector<std::string> w = words(arg);
            std::string part = arg.substr(arg.find(w.at(1)) + w[1].size() + 1);
            for (const Report &r : reports())
                if (r.status == std::stoi(w[0]) && r.text.find(part) != std::string::npos) {
                    EXPECT_EQ(r.file, env.path(w[1])) << r.text;
                }
        } else if (base == "secret-absent") {  // in no report, no log line and not in szErrorText
            EXPECT_EQ(std::string(req.szErrorText).find(arg), std::string::npos) << req.szErrorText;
            for (const Report &r : reports()) EXPECT_EQ(r.text.find(arg), std::string::npos) << r.text;
            for (const std::string &line : env.log_texts()) EXPECT_EQ(line.find(arg), std::string::npos) << line;
        } else if (base == "log") {
            std::vector<std::string> log = env.log_texts();
            EXPECT_NE(std::find(log.begin(), log.end(), arg), log.end()) << testing::PrintToString(log);
        } else if (base == "list")
            EXPECT_EQ(list_text(req.hRecipients), arg);
        else if (base == "list-block")  // the size of the recipient list's block
            EXPECT_EQ(req.hRecipients ? GlobalSize(req.hRecipients) : 0, std::stoul(arg));
        else if (base == "message-unlocked")  // the message block left as the caller gave it
            EXPECT_EQ(GlobalFlags(req.hMessage), 0u);
        else if (base == "no-list")
            EXPECT_EQ(req.hRecipients, nullptr);
        else if (base == "file" || base == "no-file")
            for (const std::string &name : words(arg)) EXPECT_EQ(file_exists(env.path(name)), base == "file") << name;
        else if (base == "files")
            EXPECT_EQ(files_in(env.path(words(arg).at(0))), std::stoi(words(arg).at(1)));
        else if (base == "mode") {  // mode NAME OCTAL: the file's permission bits
            struct stat st {};
            EXPECT_EQ(::stat(env.path(words(arg).at(0)).c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, std::stoul(words(arg).at(1), nullptr, 8));
        } else if (base == "reports-of") {
            std::string status = arg.substr(0, arg.find(' ')), texts;
            for (const auto &r : reports())
                if (std::to_string(r.status) == status) texts += (texts.empty() ? "" : ", ") + r.text;
            EXPECT_EQ(texts, arg.substr(status.size() + 1));
        } else if (base == "sends") {
            std::string sizes;
            for (std::size_t n : g_send_sizes) sizes += (sizes.empty() ? "" : " ") + std::to_string(n);
            EXPECT_EQ(sizes, arg);
        } else if (base == "bytes-read")
            EXPECT_EQ(g_read_bytes, std::stoull(arg));
        else if (base.rfind("tls-", 0) == 0 && !tls)
            ADD_FAILURE() << "no TLS server in this case";
        else if (base == "tls-stored")
            EXPECT_EQ(tls->messages().size(), std::stoul(arg));
        else if (base == "tls-count")
            EXPECT_EQ(tls->count(words(arg).at(0)), std::stoi(words(arg).at(1)));
        else if (base == "tls-body")
            EXPECT_EQ(tls->messages().at(0).substr(0, arg.size()), arg);
        else if (base == "found")
            EXPECT_EQ(lookups.found, arg);
        else if (base == "dns-queries")
            EXPECT_EQ(dns.queries(words(arg).at(0)), std::stoi(words(arg).at(1)));
        else
            ADD_FAILURE() << "unknown expectation " << kind;
    }

    TempEnv env;
    ScriptedDns dns;
    DnsServerEnv use_dns{dns.port()};
    int port = free_port("127.0.0.1");
    std::size_t live = 0;  // global-memory blocks alive before the case
    std::map<std::string, std::unique_ptr<ScriptPeer>> peers;
    std::vector<std::unique_ptr<StalledListener>> stalled;
    std::unique_ptr<TlsServer> tls;
    std::unique_ptr<PolicyServer> policy;
    SMTPSEND_STRUCTURE req{};
    std::vector<std::string> action;  // a call instead of a send
    Lookups lookups;
    bool sent = false;
    int result = 0;
    long elapsed_ms = 0;  // how long the send took
};

TEST_P(Transcript, Runs) {
    const Case &c = GetParam();
    for (std::size_t i = 0; i < c.lines.size(); ++i) {
        const auto &[what, rest] = c.lines[i];
        ::testing::ScopedTrace at(c.path.c_str(), c.at[i], what + " " + rest);
        std::string name = unescape(rest.substr(0, rest.find(' ')));
        std::string value = expand(unescape(rest.size() > name.size() ? rest.substr(name.size() + 1) : ""));
        if (what == "expect" && !sent) send();
        if (what == "request")
            set_field(req, name, value);
        else if (what == "set")
            EXPECT_EQ(VELLOR_Set_Request_Option(&req, name.c_str(), value.c_str()), 0) << req.szErrorText;
        else if (what == "file")
            write_file(env.path(name), value);
        else if (what == "chmod")
            ::chmod(env.path(name).c_str(), static_cast<mode_t>(std::stoi(value, nullptr, 8)));
        else if (what == "list")
            req.hRecipients = make_list(expand(unescape(rest)));
        else if (what == "message")
            req.hMessage = make_list(unescape(rest));
        else if (what == "send")
            send();
        else if (what == "dns" && name == "drop")  // in its place: what follows sees the name gone
            dns.drop(value);
        else if (what == "policy" && rest == "stop")
            policy->stop();
        else if (what == "closedown")
            closedown();
        else if (what == "call") {
            action = words(expand(rest));
            sent = false;
        } else if (what == "expect")
            check(rest);
    }
}

std::string case_name(const ::testing::TestParamInfo<Case> &info) {
    std::string n = info.param.file + "_" + info.param.name;
    for (char &ch : n) ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
    return n;
}

INSTANTIATE_TEST_SUITE_P(Cases, Transcript, ::testing::ValuesIn(load_cases()), case_name);

}  // namespace
