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
    bool failure_reported = false;  // a 920 report
    bool login_accepted = false;
    bool server_answered = false;
    bool timed_out = false, closed = false;
    int last_code = 0;  // the last server reply
    std::string last_reply;
    std::string unresolved_domain;
};

// Resets what was seen and chooses whether the dialogue is printed.
void watch(bool show_dialogue);
const Outcome &seen();
int32_t VELLOR_CALLBACK observe_report(SMTPSEND_STRUCTURE *request, int32_t status, const char *text, int32_t code);

// The exit status for a send that returned rc and sent `sent` of `meant`.
int exit_status(int rc, int sent, int meant, int error_code, bool login_asked);
// A line naming what really happened, or empty when the library's own text
// says it well enough.
std::string cause_line(int error_code, int winsock_error);

}  // namespace cli
