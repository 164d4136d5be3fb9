// Watching a send; see send_outcome.h.
#include "send_outcome.h"

#include <cstdio>
#include <cstring>

#include "exit_codes.h"
#include "report_output.h"
#include "vellorapi.h"

namespace cli {
namespace {

Outcome g_seen;
bool g_show = false;

void print_dialogue(int code, const std::string &text) {
    if (!g_show) return;
    const char *who = code == 0 ? "C: " : code < 0 ? "-- " : "S: ";
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        std::string line = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::fprintf(stderr, "%s%s\n", who, line.c_str());
        pos = end == std::string::npos ? text.size() : end + 1;
    }
}

void note_dialogue(int code, const std::string &text) {
    print_dialogue(code, text);
    if (code > 0) {
        g_seen.server_answered = true;
        g_seen.last_code = code;
        g_seen.last_reply = text.substr(0, text.find_last_not_of("\r\n") + 1);
        g_seen.timed_out = g_seen.closed = false;
    } else if (code < 0) {
        if (text.find("time-out") != std::string::npos) g_seen.timed_out = true;
        if (text.find("closed") != std::string::npos) g_seen.closed = true;
    }
}

// "Unable to resolve domain [x] ..." and its kin name the domain.
void note_report(int status, const std::string &text) {
    if (text.find("Authentication details accepted by server") != std::string::npos) g_seen.login_accepted = true;
    if (status != VELLOR_STATUS_FAILURE) return;
    g_seen.failure_reported = true;
    std::size_t at = text.find("resolve");
    std::size_t open = at == std::string::npos ? at : text.find('[', at);
    std::size_t close = open == std::string::npos ? open : text.find(']', open);
    if (close != std::string::npos) g_seen.unresolved_domain = text.substr(open + 1, close - open - 1);
}

bool data_error(int code) {
    return code == 902 || code == 903 || code == 908 || code == 910 || code == 911 || code == 912 ||
           code == VELLOR_ERR_DKIM_KEY;
}

}  // namespace

void watch(bool show_dialogue) {
    g_seen = Outcome{};
    g_show = show_dialogue;
}

const Outcome &seen() { return g_seen; }

int32_t VELLOR_CALLBACK observe_report(SMTPSEND_STRUCTURE *request, int32_t status, const char *text, int32_t code) {
    std::string t = text ? text : "";
    if (status == VELLOR_STATUS_DIALOGUE) {
        note_dialogue(code, t);
        return 0;
    }
    note_report(status, t);
    return print_report(request, status, text, code);
}

int exit_status(int rc, int sent, int meant, int error_code, bool login_asked) {
    if (error_code == 907 && g_seen.server_answered && g_seen.last_code < 400) return kExitUnavailable;  // no STARTTLS
    // The library only logs a refused relay login and sends on; the tool does not call that a success.
    if (error_code == 917 || (login_asked && g_seen.server_answered && !g_seen.login_accepted)) return kExitNoPerm;
    if (rc == 0 && !g_seen.failure_reported && sent >= meant) return kExitOk;
    if (g_seen.last_code >= 500) return kExitUnavailable;
    if (g_seen.last_code >= 400) return kExitTempFail;
    if (!g_seen.server_answered && data_error(error_code)) return kExitData;
    return kExitTempFail;
}

std::string cause_line(int error_code, int winsock_error) {
    if (g_seen.timed_out) return "cause: the server did not answer within the time-out";
    if (g_seen.closed) return "cause: the server closed the connection";
    if (!g_seen.unresolved_domain.empty() && !g_seen.server_answered)
        return "cause: no mail exchanger or address found for [" + g_seen.unresolved_domain + "]";
    if (winsock_error == 10061) return "cause: connection refused";
    if (winsock_error == 10060) return "cause: the connection attempt timed out";
    if (error_code == 907 && !g_seen.server_answered)
        return "cause: no connection could be made (refused, or no route to the server)";
    return "";
}

}  // namespace cli
