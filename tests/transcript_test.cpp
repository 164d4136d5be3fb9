// Transcript tests: each case in tests/data/*.cases is a row of data — the
// scripted server's side of the dialogue, the request, the options and the
// files — sent through VELLOR_Send_Message, then checked against what the
// server received, the result, the record's fields, the reports, the log
// and the files left. Lines before a file's first case apply to every case
// in it. A new case is a few lines of data:
//
//   === a refused recipient keeps the file         (a case and its name)
//   request szRecipient rcpt@dest.test             (a record field; numbers for n/b fields)
//   option Transcript 1                            (a registry value: a number, or "text")
//   file msg.txt Subject: x\r\n\r\nbody            (a file in the case's folder)
//   list a@x.test b@y.test                         (the recipient list block)
//   peer say 220 hi\r\n | line | data | pause 100 | close | connections 2 | replies 250 ok, 354 go
//   expect result -1
//   expect field nErrorCode 903
//   expect transcript HELO ...    (also: transcript-starts, transcript-has, transcript-lacks)
//   expect report 920 903 text    (also: no-report), expect log text, expect file / no-file NAME
//
// Values take \r \n \t \\ escapes; {dir} is the case's folder, {port} the peer's port.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "support/script_peer.h"
#include "support/test_env.h"
#include "vellorapi.h"

using namespace testenv;

namespace {

struct Case {
    std::string file, name;
    std::vector<std::pair<std::string, std::string>> lines;  // directive, rest
};
void PrintTo(const Case &c, std::ostream *os) { *os << c.file << ": " << c.name; }

std::string unescape(const std::string &s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        char c = s[++i];
        out += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
    }
    return out;
}

std::vector<Case> load_cases() {
    std::vector<Case> cases;
    for (const char *name : {"relay"}) {
        std::ifstream in(std::string(VELLOR_TEST_DATA_DIR) + "/" + name + ".cases");
        std::vector<std::pair<std::string, std::string>> common;
        for (std::string line; std::getline(in, line);) {
            if (line.empty() || line[0] == '#') continue;
            if (line.rfind("=== ", 0) == 0) {
                cases.push_back({name, line.substr(4), common});
                continue;
            }
            std::size_t sp = line.find(' ');
            auto entry = std::make_pair(line.substr(0, sp), sp == std::string::npos ? "" : line.substr(sp + 1));
            (cases.empty() || cases.back().file != name ? common : cases.back().lines).push_back(entry);
        }
    }
    return cases;
}

// The record's fields by name: text fields with their size, 16- and 32-bit numbers.
struct Field {
    std::size_t offset, size;
    char kind;  // 's' text, 'h' 16-bit, 'l' 32-bit
};
const std::map<std::string, Field> &fields() {
#define TEXT(f) {#f, {offsetof(SMTPSEND_STRUCTURE, f), sizeof(SMTPSEND_STRUCTURE::f), 's'}}
#define NUM(f) {#f, {offsetof(SMTPSEND_STRUCTURE, f), sizeof(SMTPSEND_STRUCTURE::f), sizeof(SMTPSEND_STRUCTURE::f) == 2 ? 'h' : 'l'}}
    static const std::map<std::string, Field> table = {
        TEXT(szServer), TEXT(szServerIP), TEXT(szHeloDomain), TEXT(szMessageFile), TEXT(szMsgExtension),
        TEXT(szSender), TEXT(szAuthUser), TEXT(szAuthPassword), TEXT(szRecipient), TEXT(szErrorText),
        NUM(nPort), NUM(bDeleteMessage), NUM(bUseEnvFile), NUM(bSingleRecipient), NUM(bMultipleRecipients),
        NUM(nRecipients), NUM(nMaxMessages), NUM(nMessagesSent), NUM(nErrorCode), NUM(nAttempt), NUM(bViaMX),
        NUM(bMessageDirectory)};
#undef TEXT
#undef NUM
    return table;
}

void set_field(SMTPSEND_STRUCTURE &r, const std::string &name, const std::string &value) {
    const Field &f = fields().at(name);
    char *p = reinterpret_cast<char *>(&r) + f.offset;
    if (f.kind == 's') {
        std::memset(p, 0, f.size);
        std::memcpy(p, value.data(), std::min(value.size(), f.size - 1));
    } else if (f.kind == 'h') {
        int16_t v = static_cast<int16_t>(std::stoi(value));
        std::memcpy(p, &v, 2);
    } else {
        int32_t v = std::stoi(value);
        std::memcpy(p, &v, 4);
    }
}

std::string get_field(const SMTPSEND_STRUCTURE &r, const std::string &name) {
    const Field &f = fields().at(name);
    const char *p = reinterpret_cast<const char *>(&r) + f.offset;
    if (f.kind == 's') return std::string(p, ::strnlen(p, f.size));
    if (f.kind == 'h') {
        int16_t v;
        std::memcpy(&v, p, 2);
        return std::to_string(v);
    }
    int32_t v;
    std::memcpy(&v, p, 4);
    return std::to_string(v);
}

void add_peer_step(Script &s, int &connections, const std::string &rest) {
    std::string word = rest.substr(0, rest.find(' '));
    std::string arg = rest.size() > word.size() ? rest.substr(word.size() + 1) : "";
    if (word == "say") s.say(unescape(arg));
    else if (word == "line") s.line();
    else if (word == "data") s.data();
    else if (word == "close") s.close();
    else if (word == "pause") s.pause(std::stoi(arg));
    else if (word == "connections") connections = std::stoi(arg);
    else if (word == "replies") {  // one command read, then its reply, for each
        std::stringstream in(arg);
        for (std::string reply; std::getline(in, reply, ',');) {
            std::size_t start = reply.find_first_not_of(' ');
            s.line().say(unescape(reply.substr(start)) + "\r\n");
        }
    } else ADD_FAILURE() << "unknown peer step " << word;
}

std::string expand(std::string s, const TempEnv &env, int port) {
    for (std::size_t at; (at = s.find("{dir}")) != std::string::npos;) s.replace(at, 5, env.dir());
    for (std::size_t at; (at = s.find("{port}")) != std::string::npos;) s.replace(at, 6, std::to_string(port));
    return s;
}

class Transcript : public ::testing::TestWithParam<Case> {};

TEST_P(Transcript, Runs) {
    const Case &c = GetParam();
    TempEnv env;
    ::setenv("KORVEXAPI_TIMEOUT_MS", "3000", 1);
    Script script;
    int connections = 1;
    std::string options;
    for (const auto &[what, rest] : c.lines) {
        if (what == "peer") add_peer_step(script, connections, rest);
        else if (what == "option") {  // a number, or a "text"
            std::string name = rest.substr(0, rest.find(' ')), value = rest.substr(name.size() + 1);
            char dword[20];
            if (value[0] != '"') std::snprintf(dword, sizeof dword, "dword:%08lx", std::stoul(value));
            options += "\"" + name + "\"=" + (value[0] == '"' ? value : std::string(dword)) + "\r\n";
        } else if (what == "timeout") ::setenv("KORVEXAPI_TIMEOUT_MS", rest.c_str(), 1);
    }
    env.registry(options);
    ScriptPeer peer(script, "127.0.0.1", 0, connections);
    SMTPINIT_STRUCTURE lib{};
    SMTPSEND_STRUCTURE req{};
    VELLOR_Initialize_Library(&lib, 0, "App");
    VELLOR_Initialize_Structure(&lib, &req);
    std::strcpy(req.szServerIP, "127.0.0.1");
    req.nPort = peer.port();
    for (const auto &[what, rest] : c.lines) {
        std::string name = rest.substr(0, rest.find(' '));
        std::string value = expand(unescape(rest.size() > name.size() ? rest.substr(name.size() + 1) : ""), env, peer.port());
        if (what == "request") set_field(req, name, value);
        else if (what == "file") write_file(env.path(name), value);
        else if (what == "folder") ::mkdir(env.path(name).c_str(), 0755);
        else if (what == "list") req.hRecipients = make_list(expand(unescape(rest), env, peer.port()));
    }
    reports().clear();
    int result = VELLOR_Send_Message("App", &req, record_status);
    std::string sent = peer.transcript();
    std::vector<std::string> log = env.log_texts();
    for (const auto &[what, rest] : c.lines) {
        if (what != "expect") continue;
        std::string kind = rest.substr(0, rest.find(' '));
        std::string arg = expand(unescape(rest.size() > kind.size() ? rest.substr(kind.size() + 1) : ""), env, peer.port());
        SCOPED_TRACE("expect " + rest);
        if (kind == "result") EXPECT_EQ(result, std::stoi(arg));
        else if (kind == "field") {
            std::string name = arg.substr(0, arg.find(' '));
            EXPECT_EQ(get_field(req, name), arg.size() > name.size() ? arg.substr(name.size() + 1) : "");
        } else if (kind == "transcript") EXPECT_EQ(sent, arg);
        else if (kind == "transcript-starts") EXPECT_EQ(sent.substr(0, arg.size()), arg);
        else if (kind == "transcript-has") EXPECT_NE(sent.find(arg), std::string::npos) << sent;
        else if (kind == "transcript-lacks") EXPECT_EQ(sent.find(arg), std::string::npos) << sent;
        else if (kind == "report" || kind == "no-report") {
            std::stringstream in(arg);
            Report want{};
            in >> want.status >> want.code;
            std::getline(in >> std::ws, want.text);
            bool found = std::find(reports().begin(), reports().end(), want) != reports().end();
            EXPECT_EQ(found, kind == "report");
        } else if (kind == "log") EXPECT_NE(std::find(log.begin(), log.end(), arg), log.end());
        else if (kind == "file") EXPECT_TRUE(file_exists(env.path(arg)));
        else if (kind == "no-file") EXPECT_FALSE(file_exists(env.path(arg)));
        else ADD_FAILURE() << "unknown expectation " << kind;
    }
    if (req.hRecipients) GlobalFree(req.hRecipients);
    ::unsetenv("KORVEXAPI_TIMEOUT_MS");
}

std::string case_name(const ::testing::TestParamInfo<Case> &info) {
    std::string n = info.param.file + "_" + info.param.name;
    for (char &ch : n) ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
    return n;
}

INSTANTIATE_TEST_SUITE_P(Cases, Transcript, ::testing::ValuesIn(load_cases()), case_name);

}  // namespace
