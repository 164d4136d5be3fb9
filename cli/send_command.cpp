// vellor send: fills one request record from the command line and makes one
// VELLOR_Send_Message call. Without --server or --server-ip it delivers
// straight to the recipients' mail exchangers.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>

#include "commands.h"
#include "password.h"
#include "private_options.h"
#include "report_output.h"
#include "vellorapi.h"

namespace cli {
namespace {

struct SendOptions {
    std::string server, server_ip, from, message, extension, helo, user, password_file, app = "vellor", ca_file;
    std::vector<std::string> to;
    int port = 25, max = 0;
    bool from_stdin = false, envelope = false, remove = false, quiet = false, verbose = false, json = false;
    bool starttls = false, tls = false, no_verify = false;
};

int fail(const std::string &text) {
    std::fprintf(stderr, "vellor: %s\n", text.c_str());
    return 2;
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

bool fill(const SendOptions &o, SMTPSEND_STRUCTURE &r, std::string &error) {
    bool ok = put(r.szServer, o.server, "--server", error) && put(r.szServerIP, o.server_ip, "--server-ip", error) &&
              put(r.szSender, o.from, "--from", error) && put(r.szMessageFile, o.message, "--message", error) &&
              put(r.szMsgExtension, o.extension, "--extension", error) &&
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
    if (!o.user.empty()) {
        auto password = find_password(o.password_file, error);
        if (!password || !put(r.szAuthPassword, *password, "the password", error)) return false;
    }
    if (o.from_stdin) {
        std::string body((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
        r.hMessage = text_block(body);
    }
    return true;
}

void summary(const SendOptions &o, int rc, SMTPSEND_STRUCTURE &r) {
    VELLOR_Get_Error_Details(&r);
    if (o.json) {
        std::printf("{\"result\": %d, \"messages_sent\": %d, \"error_code\": %d, \"error_text\": %s}\n", rc,
                    r.nMessagesSent, r.nErrorCode, json_string(rc ? r.szErrorText : "").c_str());
    } else if (o.verbose) {
        std::printf("result %d, messages sent %d, server %s %s\n", rc, r.nMessagesSent, r.szServer, r.szServerIP);
    }
    if (rc != 0) std::fprintf(stderr, "vellor: %s\n", r.szErrorText);
}

// The secure-connection flags as the library's options for this call.
void secure_options(const SendOptions &o, PrivateOptions &opts) {
    if (o.starttls) opts.number("SecureConnection", 1);
    if (o.tls) opts.number("SecureConnection", 2);
    if (!o.ca_file.empty()) opts.text("TLSCAFile", o.ca_file);
    if (o.no_verify) opts.number("TLSVerifyPeer", 0);
}

int run_send(const SendOptions &o) {
    if (o.starttls && o.tls) return fail("give either --starttls or --tls, not both");
    PrivateOptions opts;
    secure_options(o, opts);
    std::string opts_error;
    if (!opts.empty() && !opts.apply(opts_error)) return fail(opts_error);
    if (!o.message.empty() && o.from_stdin) return fail("give either --message or --stdin, not both");
    if (o.message.empty() && !o.from_stdin) return fail("no message: give --message FILE|DIR or --stdin");
    if (o.to.empty() && !o.envelope) return fail("no recipient: give --to ADDRESS or --envelope");
    SMTPINIT_STRUCTURE lib;
    std::memset(&lib, 0, sizeof lib);
    VELLOR_Initialize_Library(&lib, 0, o.app.c_str());
    SMTPSEND_STRUCTURE r;
    std::memset(&r, 0, sizeof r);
    VELLOR_Initialize_Structure(&lib, &r);
    std::string error;
    if (!fill(o, r, error)) {
        if (r.hRecipients) GlobalFree(r.hRecipients);
        return fail(error);
    }
    set_output(o.json ? Output::Json : o.quiet ? Output::Quiet : Output::Lines, o.verbose);
    int rc = VELLOR_Send_Message(o.app.c_str(), &r, print_report);
    finish_progress();
    std::memset(r.szAuthPassword, 0, sizeof r.szAuthPassword);
    summary(o, rc, r);
    if (r.hMessage) GlobalFree(r.hMessage);
    HGLOBAL list = r.hRecipients;
    VELLOR_Initialize_Structure(&lib, &r);  // frees the list if the send left it locked
    if (list && GlobalFlags(list) != GMEM_INVALID_HANDLE) GlobalFree(list);
    VELLOR_Closedown_Library(&lib, o.app.c_str());
    return rc == 0 ? 0 : 1;
}

}  // namespace

Action add_send(CLI::App &app) {
    auto o = std::make_shared<SendOptions>();
    app.add_option("--server", o->server, "Relay server host name (none: deliver by MX)");
    app.add_option("--server-ip", o->server_ip, "Relay server address, used as given");
    app.add_option("--port", o->port, "TCP port of the server")->capture_default_str();
    app.add_option("--from", o->from, "Sender address");
    app.add_option("--to", o->to, "Recipient; give it several times for a recipient list");
    app.add_option("--message", o->message, "Message file, or a queue directory of message files");
    app.add_flag("--stdin", o->from_stdin, "Read the message from standard input");
    app.add_flag("--envelope", o->envelope, "Read sender and recipients from each message's .ENV file");
    app.add_flag("--delete", o->remove, "Delete each message file (and envelope) once accepted");
    app.add_option("--max", o->max, "Most messages from a queue directory (0: 250)");
    app.add_option("--extension", o->extension, "Extension of message files, without the dot");
    app.add_option("--helo", o->helo, "Domain to announce with HELO");
    app.add_option("--user", o->user, "Login user name");
    app.add_option("--password-file", o->password_file, "File whose first line is the password");
    app.add_option("--app", o->app, "Application name shown in reports and the log")->capture_default_str();
    app.add_flag("--quiet", o->quiet, "No reports, only the final error");
    app.add_flag("--verbose", o->verbose, "Every report and a summary");
    app.add_flag("--json", o->json, "One JSON object per report, and a summary object");
    app.add_flag("--starttls", o->starttls, "Require STARTTLS before the login and the message");
    app.add_flag("--tls", o->tls, "Speak TLS from the first byte (usually port 465)");
    app.add_option("--ca-file", o->ca_file, "Extra trusted certificates (PEM) for checking the server");
    app.add_flag("--no-verify", o->no_verify, "Do not check the server's certificate (logged)");
    app.footer("The password comes from --password-file, $VELLOR_PASSWORD, or a prompt on the terminal.");
    return [o] { return run_send(*o); };
}

}  // namespace cli
