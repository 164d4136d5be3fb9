// One SMTP transaction per message, in two variants:
//  SMTP_Deliver_Message       - a whole conversation (connects when asked,
//                               QUIT and close at the end);
//  SMTP_Deliver_Batch_Message - one message of a batch over a connection
//                               kept open (the first call connects, greets
//                               and logs in; later calls start at MAIL FROM).
// Both return 0 when the server accepted the message, -1 otherwise.
#pragma once
#include <string>

#include "smtp/exchange.h"
#include "support/report.h"

namespace vellor {

int SMTP_Deliver_Message(Call &call, int connectFlag);
int SMTP_Deliver_Batch_Message(Call &call, int firstFlag);

namespace smtp {

enum class Variant { Relay, Batch };

// State of one transaction; `failed` is the one thread of control.
struct Transaction {
    Call &call;
    Variant variant;
    int flag;
    Exchange x;
    bool failed = false;

    Transaction(Call &c, Variant v, int f) : call(c), variant(v), flag(f), x(c.session) {}
    SMTPSEND_STRUCTURE *req() const { return call.req; }
    TCPSESSION_STRUCTURE *session() const { return call.session; }
    bool relay() const { return variant == Variant::Relay; }
    // "VellorAPI [app] - [n] - text"
    std::string numbered(const std::string &text) const;
    // Log the numbered text, store the code, set the failed flag, report it.
    void fail(int code, const std::string &text);
};

// Message data (message_data.cpp).
bool check_message_source(Transaction &t);  // false: -1 with 910
void send_body(Transaction &t);             // sets t.failed on failure

// Login (login.cpp / auth_encode.cpp).
void encode_login_data(Transaction &t);
void login_relay(Transaction &t);
void login_batch(Transaction &t);

}  // namespace smtp
}  // namespace vellor
