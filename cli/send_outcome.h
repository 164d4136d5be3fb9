// What the tool saw of one send: every status report passes through here on
// its way to the screen, and the dialogue (the library's Transcript option,
// which the tool always turns on) tells the last server reply, whether the
// login was accepted, and why a wait ended. From that: the exit status and
// a line naming the real cause where the library's text cannot.
#pragma once
#include <string>

#include "vellorapi.h"

namespace cli {

struct Outcome {
    bool failure_reported = false;  // a 920 report, but of a connection (907) that failed
    bool login_accepted = false;
    bool server_answered = false;
    bool timed_out = false, closed = false;
    int last_code = 0;  // the last server reply
    std::string last_reply, last_command;
    std::string unresolved_domain;
    int identified = -1;         // the messages the library counted in a queue directory
    int first_failure_code = 0;  // the first failure report: the first real cause
    std::string first_failure;
};

// Resets what was seen and chooses whether the dialogue is printed; with
// hold_failures the failure reports are held back instead of shown, for a
// send that may be made again with a refreshed token.
void watch(bool show_dialogue, bool hold_failures = false);
// Shows the failure reports held back, or with show false forgets them.
void release_held(bool show);
const Outcome &seen();
int32_t VELLOR_CALLBACK observe_report(SMTPSEND_STRUCTURE *request, int32_t status, const char *text, int32_t code);

// The exit status for a send that returned rc and sent `sent` of `meant`.
int exit_status(int rc, int sent, int meant, int error_code, bool login_asked);
// The error line's text: a connection closed or silent after a command,
// `where` naming the server and port; else the first failure report (the failed step, the
// server's reason with only the secrets masked, a certificate's reason),
// else the library's text for the code; the last server reply added when
// it refused something the text does not already quote.
std::string failure_line(const std::string &library_text, const std::string &where);
// A line naming what really happened, or empty when the error line says it
// well enough; `where` names the server and port dialled.
std::string cause_line(int error_code, int winsock_error, const std::string &where);

}  // namespace cli
