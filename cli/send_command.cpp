// vellor send: fills one request record from the command line and makes one
// VELLOR_Send_Message call. Without --server or --server-ip it delivers
// straight to the recipients' mail exchangers. The tool guards its user
// where the library keeps its classic behaviour (see send_guards.h), runs
// the call from a private working folder, sets the flags' options on the
// call's own record (VELLOR_Set_Request_Option: the user's options file is
// never edited), and ends with an exit status that tells the truth (see
// send_outcome.h). A token refused by the server is fetched once more from
// --oauth2-token-cmd and the send made again.
#include <algorithm>
#include <filesystem>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "account_send.h"
#include "commands.h"
#include "exit_codes.h"
#include "password.h"
#include "oauth2_token.h"
#include "private_folder.h"
#include "report_output.h"
#include "send_guards.h"
#include "send_outcome.h"
#include "send_request.h"
#include "system.h"
#include "app_memory.h"

namespace cli {
namespace {

constexpr int kLoginRefused = 917;

int fail(int status, const std::string &text) {
    std::fprintf(stderr, "vellor: %s\n", text.c_str());
    return status;
}

// Copies text into a field, or explains why it does not fit.
template <std::size_t N>
bool put(char (&field)[N], const std::string &text, const char *option, std::string &error) {
    if (text.size() >= N) {
        error = std::string(option) + " is longer than " + std::to_string(N - 1) + " characters";
        return false;
    }
    std::memcpy(field, text.c_str(), text.size() + 1);
    return true;
}

HGLOBAL text_block(const std::string &text) {
    HGLOBAL h = GlobalAlloc(GHND, text.size() + 1);
    if (!h) return nullptr;
    std::memcpy(GlobalLock(h), text.data(), text.size());
    GlobalUnlock(h);
    return h;
}

std::string absolute(const std::string &path) {
    std::error_code ec;
    if (path.empty() || std::filesystem::path(path).is_absolute()) return path;
    std::filesystem::path full = std::filesystem::absolute(path, ec);
    return ec ? path : full.string();
}

std::string read_all(std::istream &in) {
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The message: what goes into the record; for a queue directory how many
// messages of its extension it holds.
struct Message {
    std::string file;       // szMessageFile
    std::string extension;  // szMsgExtension
    std::string text;       // sent from memory when set
    bool in_memory = false, queue = false;
    long queued = 0;
};

// The most messages one queue pass sends (--max, 0 for the library's 250).
long pass_limit(int max) { return max == 0 ? 250 : max <= 1 ? 1 : max; }

// The extension of the queue's messages: --extension, else an --option
// MsgExtension (the last one), else empty: the options file's, or "txt".
std::string given_extension(const SendOptions &o) {
    std::string ext = o.extension;
    for (const std::string &given : o.options)
        if (o.extension.empty() && equal_nocase(given.substr(0, given.find('=')), "MsgExtension"))
            ext = given.substr(given.find('=') + 1);
    return ext;
}

// A message held in memory ends at its first NUL byte: refused, never cut.
int whole_text(const Message &m) {
    std::size_t nul = m.text.find('\0');
    if (nul == std::string::npos) return 0;
    return fail(kExitData, "the message holds a NUL byte at offset " + std::to_string(nul) +
                               ", where it would be cut: nothing sent");
}

// Decides the message by what the path is on disk; 0 or an exit status.
int choose_message(const SendOptions &o, const std::string &private_dir, Message &m) {
    if (o.text || o.from_stdin) {
        m.text = o.text ? *o.text : read_all(std::cin);
        if (!o.raw) m.text = with_crlf(m.text);
        m.in_memory = true;
        return whole_text(m);
    }
    const std::string &path = o.message;
    switch (path_kind(path)) {
        case PathKind::Missing:
            return fail(kExitNoInput, "no such message file or queue directory: " + o.message);
        case PathKind::Unreadable:
            return fail(kExitData, "the message " + o.message + " cannot be read");
        case PathKind::File: {
            m.file = path;
            m.extension = o.extension.empty() ? file_extension_for(path) : o.extension;
            if (o.envelope && std::filesystem::path(path).filename().string().find('.') == std::string::npos)
                return fail(kExitData,
                            "--envelope needs a message file name with an extension (its envelope is NAME.ENV)");
            if (o.raw) return 0;
            std::ifstream in(path, std::ios::binary);
            m.text = with_crlf(read_all(in));
            m.in_memory = true;
            return whole_text(m);
        }
        case PathKind::Directory:
            break;
    }
    std::string ext = given_extension(o);
    std::vector<std::string> files = queued_files(path, ext.empty() ? "txt" : ext);
    if (o.envelope) {
        std::vector<std::string> missing = without_envelope(path, files);
        if (!missing.empty())
            return fail(kExitNoInput,
                        "--envelope: no .ENV file for " + missing.front() +
                            (missing.size() > 1 ? " and " + std::to_string(missing.size() - 1) + " more" : "") +
                            "; nothing sent");
    }
    std::string error;
    for (const std::string &f : files)  // LF line ends as CR LF, as for a message file; --raw: as stored
        if (!o.raw && !sys::rewrite_file(path + sys::kSeparator + f, with_crlf, error))
            return fail(kExitData, error + "; nothing sent");
    m.queue = true;
    m.queued = static_cast<long>(files.size());
    m.extension = ext;
    m.file = path;
    if (contains_nocase(path, ext.empty() ? "txt" : ext)) {  // the library would take it for a file: go through a link
        m.file = private_dir + sys::kSeparator + "queue";
        if (contains_nocase(m.file, ext.empty() ? "txt" : ext) || !sys::link_path(path, m.file))
            return fail(kExitData, "cannot hand the queue directory " + o.message + " to the library");
    }
    return 0;
}

// The login's secrets, read once before the send moves into its folder.
struct Secrets {
    std::string password, token;
};

bool fill(const SendOptions &o, const Message &m, const Secrets &secrets, SMTPSEND_STRUCTURE &r, std::string &error) {
    bool ok = put(r.szServer, o.server, "--server", error) && put(r.szServerIP, o.server_ip, "--server-ip", error) &&
              put(r.szSender, o.from, "--from", error) && put(r.szMessageFile, m.file, "--message", error) &&
              put(r.szMsgExtension, m.extension, "--extension", error) &&
              put(r.szHeloDomain, o.helo, "--helo", error) && put(r.szAuthUser, o.user, "--user", error);
    if (!ok) return false;
    r.nPort = o.port;
    r.nMaxMessages = o.max;
    r.bUseEnvFile = o.envelope;
    r.bDeleteMessage = o.remove;
    if (o.to.size() == 1) {
        if (!put(r.szRecipient, o.to[0], "--to", error)) return false;
        r.bSingleRecipient = 1;
    } else if (o.to.size() > 1) {
        std::string list;
        for (const auto &a : o.to) list += (list.empty() ? "" : " ") + a;
        r.hRecipients = text_block(list);
        r.bMultipleRecipients = 1;
    }
    if (!put(r.szAuthPassword, secrets.password, "the password", error)) return false;
    if (m.in_memory) r.hMessage = text_block(m.text);
    return true;
}

// What one send left for its summary.
struct Attempt {
    int rc = 0, status = 0, sent = 0, error_code = 0, winsock = 0;
    long remaining = 0;               // a queue's messages not sent
    std::string error_text, verdict;  // verdict: the tool's own line, over the library's
    bool told = false;                // failed before sending, the reason already printed
};

// The server and port the send dialled, for a line about the connection.
std::string where(const SendOptions &o) {
    std::string port = " port " + std::to_string(o.port);
    if (!o.server_ip.empty()) return o.server_ip + port;
    if (!o.server.empty()) return o.server + port;
    std::string domain = o.to.empty() ? "" : o.to[0].substr(o.to[0].rfind('@') + 1);
    return "the mail exchanger of " + (domain.empty() ? "the recipient" : domain) + port;
}

void summary(const SendOptions &o, const Attempt &a) {
    const Outcome &s = seen();
    std::string line = a.status == 0        ? ""
                       : !a.verdict.empty() ? a.verdict
                       : a.rc == 0          ? "not every message went (" + std::to_string(a.sent) + " sent)"
                                            : failure_line(a.error_text, where(o));
    if (o.json) {
        std::printf(
            "{\"result\": %d, \"exit\": %d, \"messages_sent\": %d, \"error_code\": %d, \"error_text\": %s, "
            "\"remaining\": %ld, \"last_reply\": {\"code\": %d, \"text\": %s}}\n",
            a.rc, a.status, a.sent, a.error_code, json_string(line).c_str(), a.remaining, s.last_code,
            json_string(s.last_reply).c_str());
    } else if (o.verbose) {
        std::printf("result %d, messages sent %d, server %s\n", a.rc, a.sent, where(o).c_str());
    }
    if (a.status == 0) return;
    if (a.rc == 0 && !s.login_accepted && !o.user.empty() && a.verdict.empty()) {
        std::fprintf(stderr, "vellor: the server never accepted the login; the message went without it\n");
        return;
    }
    std::fprintf(stderr, "vellor: %s\n", line.c_str());
    std::string cause = cause_line(a.error_code, a.winsock, where(o));
    if (!cause.empty()) std::fprintf(stderr, "vellor: %s\n", cause.c_str());
}

using Option = std::pair<std::string, std::string>;

// The library's options for this one call: the tool's own, the flags',
// then each --option as given (a later one wins).
std::vector<Option> call_options(const SendOptions &o, const Message &m) {
    std::vector<Option> out = {{"Transcript", "1"}, {"AddressFamily", o.ipv4 ? "4" : o.ipv6 ? "6" : "any"}};
    if (m.queue && !m.extension.empty()) out.push_back({"MsgExtension", m.extension});  // counted as sent
    if (!o.raw) out.push_back({"DotStuffing", "1"});
    if (!o.user.empty()) out.push_back({"AuthMechanism", "ANY"});  // EHLO, and no MAIL FROM without the login
    if (o.progress) out.push_back({"SendPercentSent", "1"});
    if (!o.no_pipelining) {  // each counts only when the server offers it
        out.push_back({"Pipelining", "1"});
        out.push_back({"Chunking", "1"});
    }
    if (o.parallel > 0) out.push_back({"QueueConnections", std::to_string(o.parallel)});
    if (!o.log.empty()) out.push_back({"logfile", o.log});
    if (o.starttls) out.push_back({"SecureConnection", "1"});
    if (o.tls) out.push_back({"SecureConnection", "2"});
    if (o.no_tls) out.push_back({"SecureConnection", "0"});
    bool by_mx = o.server.empty() && o.server_ip.empty();
    // by MX: DANE, else MTA-STS, else opportunistic TLS
    if (by_mx && !o.starttls && !o.tls && !o.no_tls) out.push_back({"SecureConnection", "4"});
    if (!o.ca_file.empty()) out.push_back({"TLSCAFile", o.ca_file});
    if (o.no_verify) out.push_back({"TLSVerifyPeer", "0"});
    if (!o.dkim_domain.empty()) out.push_back({"DKIMDomain", o.dkim_domain});
    if (!o.dkim_selector.empty()) out.push_back({"DKIMSelector", o.dkim_selector});
    if (!o.dkim_key.empty()) out.push_back({"DKIMKeyFile", o.dkim_key});
    if (!o.dsn_notify.empty()) out.push_back({"DSNNotify", o.dsn_notify});
    if (!o.dsn_return.empty()) out.push_back({"DSNReturn", o.dsn_return});
    if (!o.dsn_envid.empty()) out.push_back({"DSNEnvelopeId", o.dsn_envid});
    for (const std::string &given : o.options) {
        std::size_t eq = given.find('=');
        out.push_back({given.substr(0, eq), eq == std::string::npos ? "" : given.substr(eq + 1)});
    }
    return out;
}

// Sets the options on the record; false with the library's reason.
bool set_options(const std::vector<Option> &options, const std::string &token, SMTPSEND_STRUCTURE &r,
                 std::string &error) {
    for (const auto &[name, value] : options)
        if (VELLOR_Set_Request_Option(&r, name.c_str(), value.c_str()) != 0) {
            error = "--option " + name + ": " + r.szErrorText;
            return false;
        }
    if (!token.empty() && VELLOR_Set_Request_Option(&r, "OAuth2Token", token.c_str()) != 0) {
        error = std::string("the OAuth 2.0 token: ") + r.szErrorText;
        return false;
    }
    return true;
}

int check_command_line(const SendOptions &o) {
    if (o.starttls + o.tls + o.no_tls > 1) return fail(kExitUsage, "give one of --starttls, --tls and --no-tls");
    if (!o.message.empty() && o.from_stdin) return fail(kExitUsage, "give either --message or --stdin, not both");
    if (o.message.empty() && !o.from_stdin && !o.text)
        return fail(kExitUsage, "no message: give --message FILE|DIR or --stdin");
    if (o.to.empty() && !o.envelope) return fail(kExitUsage, "no recipient: give --to ADDRESS or --envelope");
    if (o.timeout < 0) return fail(kExitUsage, "--timeout must be a number of seconds");
    if (o.app.size() >= sizeof SMTPINIT_STRUCTURE{}.szApplication)  // refused before any call, never cut
        return fail(kExitUsage, "--app is longer than 127 characters");
    for (const std::string &a : o.to) {  // a list entry is never split, cut or empty
        if (a.empty()) return fail(kExitUsage, "--to: an empty recipient address");
        if (a.size() >= sizeof SMTPSEND_STRUCTURE{}.szRecipient)
            return fail(kExitUsage, "--to is longer than 255 characters");
        if (std::any_of(a.begin(), a.end(), [](char ch) { return static_cast<unsigned char>(ch) <= ' ' || ch == 127; }))
            return fail(kExitUsage, "--to " + json_string(a) + ": an address holds no blank or control character");
    }
    if (!o.token.file.empty() && !o.token.command.empty())
        return fail(kExitUsage, "give either --oauth2-token-file or --oauth2-token-cmd, not both");
    if (o.token.given() && o.user.empty()) return fail(kExitUsage, "a token logs in as --user: give it");
    for (const std::string &given : o.options)
        if (given.find('=') == std::string::npos) return fail(kExitUsage, "--option takes NAME=VALUE, not " + given);
    return 0;
}

// One send; the summary is left to the caller. With hold_refusal a refused
// login's failure report is held back (a refreshed token may follow).
Attempt send_prepared(const SendOptions &o, const Message &m, const Secrets &secrets, bool hold_refusal) {
    SMTPINIT_STRUCTURE lib;
    std::memset(&lib, 0, sizeof lib);
    VELLOR_Initialize_Library(&lib, 0, o.app.c_str());
    SMTPSEND_STRUCTURE r;
    std::memset(&r, 0, sizeof r);
    VELLOR_Initialize_Structure(&lib, &r);
    std::string error;
    Attempt a;
    bool options_set = set_options(call_options(o, m), secrets.token, r, error);
    if (!options_set || !fill(o, m, secrets, r, error)) {
        if (r.hRecipients) GlobalFree(r.hRecipients);
        VELLOR_Closedown_Library(&lib, o.app.c_str());
        a.rc = -1;
        a.told = true;
        a.status = fail(error.find("password") != std::string::npos ? kExitNoPerm : kExitUsage, error);
        return a;
    }
    set_output(o.json ? Output::Json : o.quiet ? Output::Quiet : Output::Lines, o.verbose);
    watch(o.verbose, hold_refusal);
    a.rc = VELLOR_Send_Message(o.app.c_str(), &r, observe_report);
    finish_progress();
    std::memset(r.szAuthPassword, 0, sizeof r.szAuthPassword);
    long queued = std::max<long>(m.queued, seen().identified);
    int meant = m.queue ? static_cast<int>(std::min(queued, pass_limit(o.max))) : 1;
    a.status = exit_status(a.rc, r.nMessagesSent, meant, r.nErrorCode, !o.user.empty());
    if (m.queue) a.remaining = std::max(0L, queued - r.nMessagesSent);
    VELLOR_Get_Error_Details(&r);
    a.sent = r.nMessagesSent;
    a.error_code = r.nErrorCode;
    a.winsock = r.nWinsockError;
    a.error_text = r.szErrorText;
    if (r.hMessage) GlobalFree(r.hMessage);
    HGLOBAL list = r.hRecipients;
    VELLOR_Initialize_Structure(&lib, &r);  // frees the list if the send left it locked
    if (list && GlobalFlags(list) != GMEM_INVALID_HANDLE) GlobalFree(list);
    VELLOR_Closedown_Library(&lib, o.app.c_str());
    return a;
}

// Names of options whose values are paths.
bool path_option(const std::string &name) {
    return equal_nocase(name, "logfile") || equal_nocase(name, "TLSCAFile") || equal_nocase(name, "DKIMKeyFile");
}

// The command line with every path made absolute against the user's folder,
// before the send moves into its private working folder, and the port by
// the TLS flag when none is given.
SendOptions resolved(SendOptions o) {
    for (std::string *path : {&o.message, &o.password_file, &o.ca_file, &o.log, &o.dkim_key, &o.token.file})
        *path = absolute(*path);
    for (std::string &given : o.options) {
        std::size_t eq = given.find('=');
        if (eq != std::string::npos && eq + 1 < given.size() && path_option(given.substr(0, eq)))
            given = given.substr(0, eq + 1) + absolute(given.substr(eq + 1));
    }
    if (o.port == 0) o.port = o.tls ? 465 : o.starttls ? 587 : 25;
    return o;
}

// A queue pass judged as a whole: one that stopped at its limit with
// messages left is not done (75, how many remain); one that found none of
// its extension beside other files names them (66).
Attempt queue_verdict(const SendOptions &o, const Message &m, Attempt a) {
    if (!m.queue) return a;
    std::string ext = m.extension.empty() ? "txt" : m.extension;
    if (a.status != kExitOk && a.rc == 0 && a.sent < m.queued)
        a.verdict =
            std::to_string(a.sent) + " of the queue's " + std::to_string(m.queued) + " *." + ext + " message(s) sent";
    if (a.status == kExitOk && a.remaining > 0) {
        a.status = kExitTempFail;
        a.verdict = std::to_string(a.remaining) + " message(s) remain in the queue: a pass sends at most " +
                    std::to_string(pass_limit(o.max)) + " (--max); send again for the rest";
    }
    std::vector<std::string> others =
        a.sent == 0 && m.queued == 0 && seen().identified <= 0 ? other_files(m.file, ext) : std::vector<std::string>{};
    if (!others.empty()) {
        a.status = kExitNoInput;
        a.verdict = "the queue holds no *." + ext + " message, but " + std::to_string(others.size()) +
                    " other file(s), such as " + others.front() + ": name their extension with --extension";
    }
    return a;
}

// A missing password or token file is missing input (66); any other reason
// the login cannot be made is 77.
int secret_failure(const std::string &file, const std::string &error) {
    std::error_code ec;
    bool missing = !file.empty() && !std::filesystem::exists(file, ec);
    return fail(missing ? kExitNoInput : kExitNoPerm, error);
}

// The password or the token; 0 or an exit status.
int read_secrets(const SendOptions &o, long wait_ms, Secrets &secrets) {
    std::string error;
    if (o.token.given()) {
        auto fetched = fetch_token(o.token, wait_ms, error);
        if (!fetched) return secret_failure(o.token.file, error);
        secrets.token = *fetched;
    } else if (!o.user.empty()) {
        auto password = o.password_cmd.empty() ? find_password(o.password_file, error)
                                               : password_from_command(o.password_cmd, error);
        if (!password) return secret_failure(o.password_file, error);
        if (password->empty()) return fail(kExitNoPerm, "the password is empty: --user needs one to log in");
        secrets.password = *password;
    }
    return 0;
}

}  // namespace

int run_send(const SendOptions &given) {
    if (int bad = check_command_line(given)) return bad;
    const SendOptions o = resolved(given);
    std::string warning = registry_warning();
    if (!warning.empty()) std::fprintf(stderr, "vellor: warning: %s\n", warning.c_str());
    PrivateFolder folder;
    if (!folder.make()) return fail(kExitTempFail, "cannot make a private working folder");
    Message m;
    if (int bad = choose_message(o, folder.path(), m)) return bad;
    const char *env_wait = std::getenv("KORVEXAPI_TIMEOUT_MS");
    long wait_ms = o.timeout > 0                         ? o.timeout * 1000L
                   : env_wait && std::atol(env_wait) > 0 ? std::atol(env_wait)
                                                         : 60000;
    Secrets secrets;
    if (int bad = read_secrets(o, wait_ms, secrets)) return bad;
    if (o.timeout > 0) sys::set_env("KORVEXAPI_TIMEOUT_MS", std::to_string(o.timeout * 1000L));
    std::error_code ec;
    std::filesystem::path cwd = std::filesystem::current_path(ec);
    bool moved = !ec && (std::filesystem::current_path(folder.path(), ec), !ec);  // a private working folder
    Attempt a = send_prepared(o, m, secrets, o.token.refreshable());
    bool refresh = a.error_code == kLoginRefused && o.token.refreshable() && !seen().login_accepted;
    std::string error;
    if (refresh && moved) std::filesystem::current_path(cwd, ec);  // the command runs where the user started it
    auto fetched = refresh ? fetch_token(o.token, wait_ms, error) : std::nullopt;
    if (refresh && moved) std::filesystem::current_path(folder.path(), ec);
    release_held(!fetched);  // a send made again with a refreshed token shows only its own reports
    if (fetched) {
        secrets.token = *fetched;
        a = send_prepared(o, m, secrets, false);
    } else if (refresh) {
        a.status = fail(kExitNoPerm, error);
        a.told = true;
    }
    if (!a.told) {
        a = queue_verdict(o, m, a);
        summary(o, a);
    }
    if (moved && (std::filesystem::current_path(cwd, ec), ec))
        std::fprintf(stderr, "vellor: cannot return to %s\n", cwd.string().c_str());
    return a.status;
}

Action add_send(CLI::App &app) {
    auto o = std::make_shared<SendOptions>();
    app.add_option("--server", o->server, "Relay server host name or address, IPv6 too (none: deliver by MX)");
    app.add_option("--server-ip", o->server_ip, "Relay server address, used as given");
    app.add_option("--port", o->port, "TCP port of the server (default 25; 465 with --tls, 587 with --starttls)")
        ->check(CLI::Range(1, 65535));
    app.add_option("--from", o->from, "Sender address");
    app.add_option("--to", o->to, "Recipient; give it several times for a recipient list");
    app.add_option("--message", o->message, "Message file, or a queue directory of message files");
    app.add_flag("--stdin", o->from_stdin, "Read the message from standard input");
    app.add_flag("--raw", o->raw, "Send the message bytes as stored: no CRLF line ends, no dot-stuffing");
    app.add_flag("--envelope", o->envelope, "Read sender and recipients from each message's .ENV file");
    app.add_flag("--delete", o->remove, "Delete each message file (and envelope) once accepted");
    app.add_option("--max", o->max, "Most messages from a queue directory (0: 250)");
    app.add_option("--parallel", o->parallel, "Send a queue directory over up to N connections at once")
        ->check(CLI::Range(1, 64));
    app.add_option("--extension", o->extension, "Extension of message files, without the dot");
    app.add_option("--helo", o->helo, "Domain to announce with HELO");
    app.add_option("--user", o->user, "Login user name");
    app.add_option("--password-file", o->password_file, "File whose first line is the password");
    app.add_option("--timeout", o->timeout, "Seconds to wait for each connection and reply")
        ->check(CLI::Range(1, 86400));
    app.add_flag("--no-pipelining", o->no_pipelining,
                 "Wait for each reply, and send no BDAT, even when the server offers them");
    app.add_flag("--progress", o->progress, "Show a percent bar while the message data goes out");
    app.add_option("--log", o->log, "Log file for this send (default: the options file's, or the system one)");
    app.add_option("--app", o->app, "Application name shown in reports and the log")->capture_default_str();
    app.add_flag("--quiet", o->quiet, "No reports, only the final error");
    app.add_flag("--verbose", o->verbose, "Every report, the SMTP dialogue (login masked) and a summary");
    app.add_flag("--json", o->json, "One JSON object per report, and a summary object");
    app.add_flag("--starttls", o->starttls, "Require STARTTLS before the login and the message");
    app.add_flag("--tls", o->tls, "Speak TLS from the first byte (usually port 465)");
    app.add_option("--ca-file", o->ca_file, "Extra trusted certificates (PEM) for checking the server");
    app.add_flag("--no-verify", o->no_verify, "Do not check the server's certificate (logged)");
    app.add_flag("--no-tls", o->no_tls, "Delivery by MX in the clear: no opportunistic STARTTLS");
    auto *v4 = app.add_flag("--ipv4", o->ipv4, "Connect over IPv4 only (default: IPv6 and IPv4 raced, IPv6 first)");
    app.add_flag("--ipv6", o->ipv6, "Connect over IPv6 only")->excludes(v4);
    app.add_option("--dkim-domain", o->dkim_domain, "Sign every message with DKIM for this domain (d=)");
    app.add_option("--dkim-selector", o->dkim_selector,
                   "The DKIM selector (s=): the key's record is at S._domainkey.D");
    app.add_option("--dkim-key", o->dkim_key, "The DKIM private key (PEM: RSA of 2048 bits or more, or Ed25519)");
    app.add_option("--dsn-notify", o->dsn_notify,
                   "Delivery status notifications asked for: NEVER, or SUCCESS,FAILURE,DELAY (any of them)");
    app.add_option("--dsn-return", o->dsn_return, "What a failure notification returns: FULL or HDRS");
    app.add_option("--dsn-envid", o->dsn_envid, "The envelope id notifications name (printable ASCII)");
    app.add_option("--option", o->options, "A library option for this send, NAME=VALUE (repeatable)");
    app.add_option("--oauth2-token-file", o->token.file, "File holding the OAuth 2.0 access token for --user");
    app.add_option("--oauth2-token-cmd", o->token.command,
                   "Command printing the OAuth 2.0 access token (run again once if the server refuses it)");
    app.footer(
        "The password comes from --password-file, $VELLOR_PASSWORD, or a prompt on the terminal.\n"
        "Exit status: 0 all sent, 64 usage, 65 data, 66 no input, 69 refused (5xx), 75 try again later, "
        "77 login refused.");
    auto account = std::make_shared<std::string>();
    app.add_option("--account", *account,
                   "Take the relay, login, sender and DKIM from this account of the accounts file");
    CLI::App *self = &app;
    return [o, account, self] {
        if (account->empty()) return run_send(*o);
        std::string error;
        auto a = load_account(*account, error);
        if (!a) return fail(kExitConfig, error);
        apply_account(*a, *o, [self](const char *flag) { return self->count(flag) > 0; });
        return run_send(*o);
    };
}

}  // namespace cli
