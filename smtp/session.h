// One connection's SMTP session as its transactions see it: the reports
// (support/report.h), the connection to the server with the companion's
// block and record (transport/connection.h), the login state
// (smtp/auth_encode.h: the user and password the delivery took from the
// request), what the server's EHLO reply offered, the key it is kept under
// between calls, and the final replies still due. It holds nothing of the
// delivery and never the request record: the message, its envelope, the
// options read for it and the signer come with each transaction
// (smtp/transaction.h's Handoff), and what the application is shown of the
// session goes back through the show_ calls the delivery implements.
#pragma once
#include <functional>
#include <string>

#include "smtp/auth_encode.h"
#include "smtp/ehlo.h"
#include "smtp/final_replies.h"
#include "support/report.h"
#include "transport/connection.h"

namespace vellor::smtp {

struct Session : Reporter, transport::Connection {
    LoginState login;

    // An exchanger failed the TLS that DANE or MTA-STS demand of it (or
    // was passed over for them): the delivery's last failure is then 907.
    bool protection_refused = false;

    // The connection's server offered PIPELINING in its EHLO reply.
    bool peer_pipelines = false;
    // What the connection's EHLO reply offered (nothing after HELO), and
    // that reply's text (kept with a session kept open).
    Offers offers;
    std::string ehlo_text;

    // A relay delivery's connections may be kept open between calls (the
    // KeepConnection option, smtp/kept_session.cpp); `keep_key` is the key
    // of the session open now when it is to be kept (empty: it is not).
    bool relay = false;
    std::string keep_key;

    // Set when the last transaction failed because the server limits its
    // connections (refused at connect, or smtp::limits_connections): what
    // it said. A pass over several connections then ends this one and
    // leaves its message to the others (submit/parallel_pass.cpp).
    std::string limit_reason;

    // While set, a batch message's final reply may be read after the next
    // commands went (smtp/final_replies.h): called in order, once for each
    // such message, with whether the server accepted it and the reports of
    // its final reply, to be made while the delivery shows that message.
    std::function<void(bool accepted, const std::function<void()> &report)> settled;
    // The end-of-data bytes held and the final replies still due.
    Finals finals;

    // Called while the server works on a message's data, before its final
    // reply is read (a queue pass reads its next message meanwhile).
    std::function<void()> awaiting_reply;

    // The session's error code as it happens (0 when a later step makes
    // good an earlier failure): the delivery shows it to the application
    // (submit/message_in_hand.cpp), the session never writes the record.
    virtual void show_error(int code) = 0;
    // The HELO domain the session greets (or keys a kept session) with.
    virtual void show_helo_domain(const std::string &domain) = 0;
    // The login data's Base64 forms, once per call when they are made.
    virtual void show_login_forms(const EncodedLogin &forms) = 0;
};

}  // namespace vellor::smtp
