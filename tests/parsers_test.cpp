// Parsers and text rules fed plain text, one row of tests/data/parsers.rows
// per case: "PROBE INPUT => EXPECTED" (escapes as in the transcript cases).
// Each probe runs one reader and writes what it found as text:
//   address TEXT        1 when the address check passes, else 0
//   list TEXT           the list parser's result and count
//   read TEXT           the entries the sequential reader gives, and those the picker by
//                       number gives when they differ ("!" before TEXT: the block holds
//                       TEXT to its last byte, no NUL)
//   rcpt N TEXT         the first N RCPT names, '|' between them
//   select N TEXT       picking entry N (!N: the list cannot be locked): the result, the
//                       recipient and its domain, the error code
//   login USER PASSWORD the two values base64-encoded for AUTH LOGIN, "|" between
//   oauthbearer USER TOKEN  the initial response of an OAUTHBEARER login, base64-encoded
//   cut TEXT            the address inside brackets
//   wildcard PAT NAME   1 when the directory search's pattern takes the name
//   ehlo REPLY          what an EHLO reply offers, [its login mechanisms], its extensions
//   dots TEXT           "lone:" or "none:", then the text dot-stuffed; checked at every split
//   reply BYTES         a reply through the reader (cut at every place): its code, enhanced code
//   dns FLAGS N TAIL    a DNS answer (the question echoed, FLAGS in hex, N answers) read back
//   query NAME          the MX query written for NAME, in hex from its question on
//   error CODE          the error text of the code
//   option NAME BODY    an option read from an options file with BODY as its values
//                       ("-": no file; "raw:" before BODY: BODY is the whole file)
//                       ("utf16:" before BODY: the whole file, written as UTF-16)
//   logline TEXT        the log line written for TEXT, its stamp checked and shown as STAMP
//   logto VALUES        the files a log line makes with these option values ('@': the
//                       test's folder) with their modes, then the line counter (100 before)
//   trim SIZE VALUES    a log of SIZE bytes of 100-byte lines trimmed: its size, "whole"
//                       when it begins with a whole line
//   lines COUNTER N SIZE  the same log, the line counter set, then N lines written: the same
//   callback VALUE TEXT what the status callback receives with that callback option value
//   envelope BYTES      the lines the envelope reader finds: F: a sender, T: a recipient, O: other
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>

#include "korvex/dns_message.h"
#include "msgfiles/envelope_reader.h"
#include "msgfiles/recipients.h"
#include "platform/file_search.h"
#include "platform/global_memory.h"
#include "smtp/auth_encode.h"
#include "dkim/canon.h"
#include "smtp/ehlo.h"
#include "smtp/message_text.h"
#include "smtp/reply.h"
#include "smtp/reply_reader.h"
#include "submit/message_in_hand.h"
#include "support/log_file.h"
#include "support/options.h"
#include "support/request_options.h"
#include "support/status_callback.h"
#include "support/test_env.h"

using namespace testenv;

namespace {

struct Row {
    int line;
    std::string probe, input, expected;
};
void PrintTo(const Row &r, std::ostream *os) { *os << "line " << r.line << ": " << r.probe << " " << r.input; }

std::vector<Row> load_rows() {
    std::vector<Row> rows;
    std::ifstream in(std::string(VELLOR_TEST_DATA_DIR) + "/parsers.rows");
    int n = 0;
    for (std::string line; std::getline(in, line);) {
        ++n;
        std::size_t arrow = line.rfind(" =>"), sp = line.find(' ');
        if (line.empty() || line[0] == '#' || arrow == std::string::npos) continue;
        std::string expected = line.substr(arrow + 3);
        if (!expected.empty() && expected[0] == ' ') expected.erase(0, 1);
        std::string input = sp < arrow ? line.substr(sp + 1, arrow - sp - 1) : "";
        rows.push_back({n, line.substr(0, sp), unescape(input), unescape(expected)});
    }
    return rows;
}

std::string join(const std::vector<std::string> &parts, const char *between) {
    std::string out;
    for (const auto &p : parts) out += (out.empty() ? "" : between) + p;
    return out;
}

// "WORD REST" split at the first blank.
std::pair<std::string, std::string> head(const std::string &s) {
    std::size_t sp = s.find(' ');
    return {s.substr(0, sp), sp == std::string::npos ? "" : s.substr(sp + 1)};
}

// The entries of a list block; "!" before the text: a block filled to its
// last byte, without a NUL.
std::vector<std::string> entries(std::string text, bool by_number) {
    bool full = text.starts_with('!');
    if (full) text.erase(0, 1);
    HGLOBAL h = make_list(text);
    if (full) GlobalReAlloc(h, text.size(), GMEM_MOVEABLE);  // the NUL cut off
    std::vector<std::string> out;
    int count = 0;
    vellor::parse_recipient_list("App", text, count);
    SMTPSEND_STRUCTURE req{};
    req.hRecipients = h;
    uint32_t offset = 0;
    for (int i = 1; i <= (by_number ? count : 1000); ++i) {
        std::string a;
        if (by_number && vellor::select_recipient(&req, i) == 0) a = req.szRecipient;
        if (!by_number) vellor::next_recipient(h, a, offset);
        if (a.empty()) break;
        out.push_back(a);
    }
    GlobalFree(h);
    return out;
}

std::string select(const std::string &in) {
    auto [n, text] = head(in);
    SMTPSEND_STRUCTURE req{};
    req.hRecipients = make_list(text);
    if (n[0] == '!') vellor::gmem::fail_nth(vellor::gmem::Op::Lock, 1);
    int rc = vellor::select_recipient(&req, std::stoi(n.substr(n[0] == '!')));
    vellor::gmem::reset_faults();
    GlobalFree(req.hRecipients);
    return std::to_string(rc) + " " + req.szRecipient + " " + req.szServer + " " + std::to_string(req.nErrorCode);
}

// The login's two values base64-encoded as AUTH LOGIN sends them; the
// record's fields must then show the encoded values when they fit, else the
// caller's own texts (never a cut value).
std::string login(const std::string &in) {
    auto [user, password] = head(in);
    SMTPSEND_STRUCTURE r{};
    char *u = r.szAuthUser, *p = r.szAuthPassword;
    std::memcpy(u, user.data(), std::min<std::size_t>(user.size(), 127));
    std::memcpy(p, password.data(), std::min<std::size_t>(password.size(), 127));
    vellor::EncodedLogin e = vellor::SMTP_Encode_Auth_Data(u, p);
    vellor::show_login_forms(r, e);
    auto kept = [](const std::string &s, const std::string &own) { return s.size() < 128 ? s : own.substr(0, 127); };
    bool held = kept(e.user, user) == u && kept(e.password, password) == p;
    return e.user + "|" + e.password + (held ? "" : " but the fields hold " + std::string(u) + "|" + p);
}

// What `run` gives for the text fed in two pieces, the same for every place
// of the cut (else the first cut that differs).
std::string at_every_split(const std::string &text, const std::function<std::string(std::size_t)> &run) {
    std::string first = run(0);
    for (std::size_t split = 1; split <= text.size(); ++split)
        if (std::string got = run(split); got != first) return "split " + std::to_string(split) + " gives " + got;
    return first;
}

// A whole message through the DKIM canonicaliser: "header|body" as relaxed.
struct Collect final : vellor::dkim::ByteSink {
    std::string out;
    void update(const char *d, std::size_t n) override { out.append(d, n); }
};
std::string canon(const std::string &text) {
    return at_every_split(text, [&](std::size_t split) {
        Collect body;
        vellor::dkim::MessageCanon c(body);
        c.feed(text.data(), split);
        c.feed(text.data() + split, text.size() - split);
        c.finish();
        return c.header() + "|" + body.out;
    });
}

// The signed fields of a header section: "h= value|their relaxed text".
std::string signed_fields(const std::string &header) {
    auto f = vellor::dkim::signed_fields(header);
    return f.names + "|" + f.canonical;
}

// What an EHLO reply offers (P(ipelining) U(TF8) 8(BITMIME) S(IZE)=limit),
// its login mechanisms in order, then its extensions in name order.
// The reply the reply reader makes of the bytes, fed in two pieces.
vellor::smtp::Reply read_reply(const std::string &bytes, std::size_t split) {
    vellor::smtp::ReplyReader reader;
    if (!reader.feed(bytes.data(), split)) reader.feed(bytes.data() + split, bytes.size() - split);
    return vellor::smtp::parse_reply(reader.text(), reader.full(), reader.last_line_head());
}

std::string ehlo(const std::string &bytes) {
    return at_every_split(bytes, [&](std::size_t split) {
        auto r = read_reply(bytes, split);
        auto o = vellor::smtp::ehlo_offers(r);
        auto extensions = vellor::smtp::ehlo_extensions(r);
        return std::string(o.pipelining ? "P" : "-") + (o.smtputf8 ? "U" : "-") + (o.eight_bit ? "8" : "-") +
               (o.size ? "S=" + std::to_string(o.size_limit) : "-") + " [" +
               join(vellor::smtp::ehlo_auth_mechanisms(r), " ") + "] " +
               join({extensions.begin(), extensions.end()}, " ");
    });
}

std::string reply(const std::string &bytes) {
    return at_every_split(bytes, [&](std::size_t split) {
        auto r = read_reply(bytes, split);
        return std::to_string(r.code) + " " + (r.enhanced.empty() ? "-" : r.enhanced);
    });
}

std::string dots(const std::string &text) {
    return at_every_split(text, [&](std::size_t split) {
        vellor::smtp::LoneDotFinder finder;
        finder.feed(text.data(), split);
        finder.feed(text.data() + split, text.size() - split);
        std::string out, piece;
        bool line_start = true;
        vellor::smtp::dot_stuff(text.data(), split, line_start, out);
        vellor::smtp::dot_stuff(text.data() + split, text.size() - split, line_start, piece);
        return (finder.finish() ? "lone:" : "none:") + out + piece;
    });
}

std::string dns(const std::string &in) {
    auto [flags, rest] = head(in);
    auto [answers, tail] = head(rest);
    std::string packet = korvex::dns::query(0x1234, "mx.test", 15);
    int f = std::stoi(flags, nullptr, 16);
    packet[2] = static_cast<char>(f >> 8);
    packet[3] = static_cast<char>(f & 0xff);
    packet[7] = static_cast<char>(std::stoi(answers));
    std::vector<korvex::MxHost> got;
    static const char *const kOutcome[] = {"found",         "no-data",  "no-domain", "timed-out",
                                           "server-failed", "bad-name", "failed"};
    std::string out = kOutcome[static_cast<int>(korvex::dns::read_answer(packet + tail, 0x1234, 15, got))];
    for (const auto &h : got) out += " " + std::to_string(h.preference) + " " + h.host;
    return out;
}

// The query the Windows companion writes for a name, in hex from its
// question on; "refused" when the name cannot be written.
std::string query(const std::string &name) {
    std::string q = korvex::dns::query(1, name, 15), hex;
    for (std::size_t i = 12; i < q.size(); ++i) {
        char byte[3];
        std::snprintf(byte, sizeof byte, "%02x", static_cast<unsigned char>(q[i]));
        hex += byte;
    }
    return q.empty() ? "refused" : hex;
}

std::string error_text(const std::string &code) {
    SMTPSEND_STRUCTURE req{};
    req.nErrorCode = static_cast<int16_t>(std::stoi(code));
    VELLOR_Get_Error_Details(&req);
    VELLOR_Get_Error_Details(&req);  // twice: never appends
    return req.nErrorCode == std::stoi(code) ? req.szErrorText : "code changed";
}

std::string option(const std::string &in) {
    TempEnv env;
    auto [name, body] = head(in);
    if (body.rfind("raw:", 0) == 0)
        env.registry_raw(body.substr(4));
    else if (body.rfind("utf16:", 0) == 0) {  // the file as a UTF-16 export writes it
        std::string wide = "\xff\xfe";
        for (char ch : body.substr(6)) wide.append({ch, '\0'});
        env.registry_raw(wide);
    } else if (body != "-")
        env.registry(body);
    namespace o = vellor::options;
    const std::map<std::string, std::function<std::string()>> read = {
        {"logfilemax", [] { return std::to_string(o::log_file_limit({}, 1)); }},
        {"MsgExtension", [] { return o::msg_extension({}); }},
    };
    return read.at(name)();
}

// The transaction's options as read by type: "NAME=VALUE ..." of the
// options file (or "-"), then "|" and what the record sets ("NAME=VALUE"
// pairs, each taken or shown refused; "init": the record prepared again).
std::string typed(const std::string &in) {
    TempEnv env;
    std::size_t bar = in.find(" | ");
    std::string file = in.substr(0, bar), own = bar == std::string::npos ? "" : in.substr(bar + 3);
    if (file != "-") env.registry(file);
    SMTPINIT_STRUCTURE lib{};
    SMTPSEND_STRUCTURE req{};
    VELLOR_Initialize_Library(&lib, 0, "App");
    VELLOR_Initialize_Structure(&lib, &req);
    std::string out;
    std::istringstream pairs(own);
    for (std::string pair; pairs >> pair;) {
        std::size_t eq = pair.find('=');
        if (pair == "init")
            VELLOR_Initialize_Structure(&lib, &req);
        else if (VELLOR_Set_Request_Option(&req, pair.substr(0, eq).c_str(), pair.substr(eq + 1).c_str()) != 0)
            out += "refused: " + std::string(req.szErrorText) + "; ";
    }
    vellor::options::MessageOptions o = vellor::options::message_options(vellor::options::values_of(&req));
    out += "sc=" + std::to_string(o.secure_connection) + " verify=" + std::to_string(o.tls_verify_peer) +
           " ca=" + o.tls_ca_file + " pipe=" + std::to_string(o.pipelining) + " mech=" + o.auth_mechanism +
           " token=" + o.oauth2_token + " dkim=" + o.dkim.domain + "/" + o.dkim.selector + "/" + o.dkim.key_file;
    if (o.dsn.asked()) out += " dsn=" + o.dsn.notify + "/" + o.dsn.ret + "/" + o.dsn.envelope_id;
    if (!o.unusable.empty()) out += " unusable: " + o.unusable;
    VELLOR_Closedown_Library(&lib, "App");
    return out;
}

// One log line, its stamp checked (today's local date, then a time) and
// written as STAMP.
std::string logline(const std::string &text) {
    TempEnv env;
    vellor::Write_Log(text);
    std::string all = read_file(env.log_path());
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    char date[48];
    std::snprintf(date, sizeof date, "%04d/%02d/%02d  ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    bool stamped = all.rfind(date, 0) == 0 && std::regex_match(all.substr(12, 9), std::regex(R"(\d\d:\d\d:\d\d )"));
    return stamped ? "STAMP " + all.substr(21) : "unstamped: " + all;
}

// Where a log line goes with these option values ('@' stands for the
// folder): the files there afterwards, then the line counter (100 before).
std::string logto(const std::string &values) {
    TempEnv env;
    std::string v = values;
    for (std::size_t at; (at = v.find('@')) != std::string::npos;) v.replace(at, 1, env.dir());
    if (v != "-") env.registry(v);
    vellor::set_log_line_counter(100);
    vellor::Write_Log("one");
    std::vector<std::string> files;
    for (const auto &e : std::filesystem::recursive_directory_iterator(env.dir())) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%o", static_cast<unsigned>(e.status().permissions()));
        if (e.path().filename() != "registry.reg" && e.is_regular_file())
            files.push_back(e.path().lexically_relative(env.dir()).string() + ":" + mode);
    }
    std::sort(files.begin(), files.end());
    files.push_back(std::to_string(vellor::log_line_counter()));
    return join(files, " ");
}

// A log of SIZE bytes of numbered 100-byte lines (option values VALUES)
// after `act` on its path: its size, "whole" when it begins with a whole line.
std::string log_left(std::size_t size, const std::string &values, const std::function<void(const std::string &)> &act) {
    TempEnv env;
    if (values != "-") env.registry(values);
    std::string line(98, 'L'), log;
    for (int i = 0; log.size() + 100 <= size; ++i) {
        std::string num = std::to_string(i);
        log += num + line.substr(num.size()) + "\r\n";
    }
    write_file(env.log_path(), log.append(size - log.size(), 'Z'));
    act(env.log_path());
    std::string kept = read_file(env.log_path());
    return std::to_string(kept.size()) +
           (!kept.empty() && std::isdigit(static_cast<unsigned char>(kept[0])) ? " whole" : "");
}

std::string trim(const std::string &in) {
    auto [size, values] = head(in);
    return log_left(std::stoul(size), values, vellor::Trim_Log);
}

std::string lines(const std::string &in) {
    std::istringstream words(in);
    int counter = 0, n = 0;
    std::size_t size = 0;
    words >> counter >> n >> size;
    return log_left(size, "-", [&](const std::string &) {
        vellor::set_log_line_counter(counter);
        for (; n > 0; --n) vellor::Write_Log("x");
    });
}

std::string callback(const std::string &in) {
    TempEnv env;
    auto [mode, text] = head(in);
    if (mode != "-") env.registry("\"callback\"=" + mode + "\r\n");
    reports().clear();
    vellor::Report_Status(nullptr, 920, text, 901, record_status, {});
    if (reports().empty()) return "(dropped)";
    const Report &r = reports().at(0);
    return r.status == 920 && r.code == 901 ? r.text : "status or code changed";
}

std::string envelope(const std::string &bytes) {
    std::string out;
    vellor::envelope::read_envelope(bytes, [&](const vellor::envelope::Line &l) {
        static const char *const kKind[] = {"F:", "T:", "O:"};
        out += (out.empty() ? "" : " | ") + (kKind[static_cast<int>(l.kind)] + l.address);
        return true;
    });
    return out;
}

const std::map<std::string, std::function<std::string(const std::string &)>> &probes() {
    static const std::map<std::string, std::function<std::string(const std::string &)>> all = {
        {"address", [](const std::string &s) { return std::to_string(vellor::is_valid_address(s, "App")); }},
        {"list",
         [](const std::string &s) {
             int count = -1;
             int r = vellor::parse_recipient_list("App", s, count);
             return std::to_string(r) + " " + std::to_string(count);
         }},
        {"read",
         [](const std::string &s) {
             std::string read = join(entries(s, false), "|"), picked = join(entries(s, true), "|");
             return read == picked ? read : read + " but picked [" + picked + "]";
         }},
        {"select", select},
        {"query", query},
        {"login", login},
        {"rcpt",
         [](const std::string &s) {
             auto [n, text] = head(s);
             return join(vellor::rcpt_entries(text, std::stoi(n)), "|");
         }},
        {"cut", [](const std::string &s) { return vellor::bracket_cut(s); }},
        {"wildcard",
         [](const std::string &s) {
             auto [pattern, name] = head(s);
             return std::to_string(vellor::files::wildcard_match(pattern, name));
         }},
        {"ehlo", ehlo},
        {"dots", dots},
        {"reply", reply},
        {"canon", canon},
        {"signed", signed_fields},
        {"dns", dns},
        {"error", error_text},
        {"option", option},
        {"typed", typed},
        {"oauthbearer",
         [](const std::string &s) {
             auto [user, token] = head(s);
             return vellor::sasl_oauthbearer(user, token);
         }},
        {"logline", logline},
        {"logto", logto},
        {"trim", trim},
        {"lines", lines},
        {"callback", callback},
        {"envelope", envelope},
    };
    return all;
}

class Parsers : public ::testing::TestWithParam<Row> {};

TEST_P(Parsers, Row) {
    const Row &row = GetParam();
    ::testing::ScopedTrace at(VELLOR_TEST_DATA_DIR "/parsers.rows", row.line, row.probe);
    auto probe = probes().find(row.probe);
    ASSERT_NE(probe, probes().end()) << "no probe " << row.probe;
    EXPECT_EQ(probe->second(row.input), row.expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, Parsers, ::testing::ValuesIn(load_rows()),
                         [](const auto &info) { return "line" + std::to_string(info.param.line); });

}  // namespace
