// Watching a send; see send_outcome.h.
#include "send_outcome.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "exit_codes.h"
#include "report_output.h"
#include "vellorapi.h"

namespace cli {
namespace {

Outcome g_seen;
bool g_show = false, g_hold = false;
std::vector<std::pair<int, std::string>> g_held;  // failure reports held back: code, text

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
    } else if (code == 0) {  // a command: "MAIL FROM", "RCPT TO", else its verb
        std::size_t end =
            text.rfind("MAIL FROM", 0) == 0 || text.rfind("RCPT TO", 0) == 0 ? text.find(':') : text.find(' ');
        g_seen.last_command = text.substr(0, std::min(end, text.find_first_of("\r\n")));
    } else {
        if (text.find("time-out") != std::string::npos) g_seen.timed_out = true;
        if (text.find("closed") != std::string::npos) g_seen.closed = true;
    }
}

// "Unable to resolve domain [x] ..." and its kin name the domain.
void note_report(int status, const std::string &text, int code) {
    if (text.find("Authentication details accepted by server") != std::string::npos) g_seen.login_accepted = true;
    std::size_t counted = text.find(" have been identified as waiting");
    if (counted != std::string::npos) {  // "N messages have ..." or "N message(s) have ..."
        std::size_t digits = text.rfind(' ', text.rfind(" message", counted) - 1);
        g_seen.identified = std::atoi(text.c_str() + (digits == std::string::npos ? 0 : digits + 1));
    }
    if (status != VELLOR_STATUS_FAILURE) return;
    // A connection that failed (an exchanger's dead IPv4 address) is no failure of a send that then went
    // over another one: the result and the count say whether the messages went.
    if (code != VELLOR_ERR_NO_CONNECTION) g_seen.failure_reported = true;
    if (g_seen.first_failure.empty()) {
        g_seen.first_failure = text;
        g_seen.first_failure_code = code;
    }
    std::size_t at = text.find("resolve");
    std::size_t open = at == std::string::npos ? at : text.find('[', at);
    std::size_t close = open == std::string::npos ? open : text.find(']', open);
    if (close != std::string::npos) g_seen.unresolved_domain = text.substr(open + 1, close - open - 1);
}

constexpr int kLoginRefused = 917;

bool data_error(int code) {
    return code == 902 || code == 903 || code == 908 || code == 910 || code == 911 || code == 912 ||
           code == VELLOR_ERR_DKIM_KEY;
}

}  // namespace

void watch(bool show_dialogue, bool hold_failures) {
    g_seen = Outcome{};
    g_show = show_dialogue;
    g_hold = hold_failures;
    g_held.clear();
}

void release_held(bool show) {
    for (const auto &[code, text] : g_held)
        if (show) print_report(nullptr, VELLOR_STATUS_FAILURE, text.c_str(), code);
    g_held.clear();
    g_hold = false;
}

const Outcome &seen() { return g_seen; }

int32_t VELLOR_CALLBACK observe_report(SMTPSEND_STRUCTURE *request, int32_t status, const char *text, int32_t code) {
    std::string t = text ? text : "";
    if (status == VELLOR_STATUS_DIALOGUE) {
        note_dialogue(code, t);
        return 0;
    }
    note_report(status, t, code);
    if (g_hold && status == VELLOR_STATUS_FAILURE) {
        g_held.emplace_back(code, t);
        return 0;
    }
    return print_report(request, status, text, code);
}

int exit_status(int rc, int sent, int meant, int error_code, bool login_asked) {
    bool handshake = g_seen.first_failure.find("Secure connection") != std::string::npos;
    if (error_code == 907 && handshake) return kExitTempFail;  // a certificate or handshake, with or without STARTTLS
    if (error_code == 907 && g_seen.server_answered && g_seen.last_code < 400) return kExitUnavailable;  // no STARTTLS
    // The library only logs a refused relay login and sends on; the tool does not call that a success.
    if (error_code == 917 || (login_asked && g_seen.server_answered && !g_seen.login_accepted)) return kExitNoPerm;
    if (rc == 0 && !g_seen.failure_reported && sent >= meant) return kExitOk;
    if (g_seen.last_code >= 500) return kExitUnavailable;
    if (g_seen.last_code >= 400) return kExitTempFail;
    if (!g_seen.server_answered && data_error(error_code)) return kExitData;
    return kExitTempFail;
}

// A report's text without the library's "VellorAPI [APP] - " in front.
std::string unprefixed(const std::string &text) {
    std::size_t close = text.rfind("VellorAPI [", 0) == 0 ? text.find("] - ") : std::string::npos;
    std::string rest = close == std::string::npos ? text : text.substr(close + 4);
    std::size_t number = rest.rfind('[', 0) == 0 ? rest.find("] - ") : std::string::npos;  // "[1] - ", the attempt
    bool digits = number != std::string::npos && rest.find_first_not_of("0123456789", 1) == number;
    return digits ? rest.substr(number + 4) : rest;
}

std::string failure_line(const std::string &library_text, const std::string &where) {
    if (g_seen.closed || g_seen.timed_out) {  // whatever the library calls it, no reply came
        std::string step = g_seen.last_command.empty() ? " before its greeting" : " after " + g_seen.last_command;
        return where + (g_seen.closed ? " closed the connection" : " did not answer within the time-out") + step;
    }
    std::string line = g_seen.first_failure.empty() ? library_text : unprefixed(g_seen.first_failure);
    std::string reply = g_seen.last_reply.substr(0, g_seen.last_reply.find('\n'));
    if (!reply.empty() && reply.back() == '\r') reply.pop_back();
    bool quoted = line.find(reply.substr(0, 3)) != std::string::npos;
    if (g_seen.last_code >= 400 && !quoted && g_seen.first_failure_code != kLoginRefused)
        line += "; last reply: " + reply;
    return line;
}

std::string cause_line(int error_code, int winsock_error, const std::string &where) {
    if (!g_seen.unresolved_domain.empty() && !g_seen.server_answered)
        return "cause: no mail exchanger or address found for [" + g_seen.unresolved_domain + "]";
    if (winsock_error == 10061) return "cause: connection to " + where + " refused";
    if (winsock_error == 10060) return "cause: the connection attempt to " + where + " timed out";
    bool handshake = g_seen.first_failure.find("Secure connection") != std::string::npos;
    if (error_code == 907 && !g_seen.server_answered && !handshake)
        return "cause: no connection could be made to " + where + " (refused, or no route to the server)";
    return "";
}

}  // namespace cli
