// One send call's context as the session and the delivery procedures see
// it: the reports (support/report.h), the connection to the server with the
// companion's block and record (transport/connection.h), the login state
// (smtp/auth_encode.h), a queue pass's options, and the message the
// delivery hands over: its file, envelope and server (smtp/message_source.h).
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "smtp/auth_encode.h"
#include "smtp/ehlo.h"
#include "smtp/final_replies.h"
#include "smtp/message_source.h"
#include "support/options.h"
#include "support/report.h"
#include "transport/connection.h"

namespace vellor {
namespace dkim {
struct Signer;
}

struct HeldFiles;     // the delivery's (submit/mx_steps.h)
struct EnvelopeSeen;  // the delivery's (msgfiles/message_details.h)

struct Call : Reporter, transport::Connection {
    LoginState login;

    // An exchanger failed the TLS that DANE or MTA-STS demand of it (or
    // was passed over for them): the delivery's last failure is then 907.
    bool protection_refused = false;

    // The connection's server offered PIPELINING in its EHLO reply.
    bool peer_pipelines = false;
    // What the connection's EHLO reply offered (nothing after HELO), and
    // that reply's text (kept with a session kept open).
    smtp::Offers offers;
    std::string ehlo_text;

    // A relay delivery's connections may be kept open between calls (the
    // KeepConnection option, smtp/kept_session.cpp); `keep_key` is the key
    // of the session open now when it is to be kept (empty: it is not).
    bool relay = false;
    std::string keep_key;

    // While set, the message options of a queue pass, read once when the
    // pass began; each transaction reads them afresh otherwise.
    const options::MessageOptions *pass_options = nullptr;

    // While set, an accepted message file is held here instead of removed:
    // the delivery removes it once every recipient it was meant for took it.
    HeldFiles *held = nullptr;

    // The envelope of the message in hand as the delivery read it: checked
    // before the message and its envelope are removed.
    std::shared_ptr<EnvelopeSeen> envelope;  // made by the delivery (submit/message_turn.h)

    // The message in hand: the delivery's own value as it walks files,
    // recipients and servers (the request record only shows it, see
    // submit/message_in_hand.h).
    smtp::Message hand;

    // The message of the transaction, handed over by the delivery around
    // each transaction (hMessage is the body when it is set).
    smtp::Message *message = nullptr;

    // While set, a batch message's final reply may be read after the next
    // commands went (smtp/final_replies.h): called in order, once for each
    // such message, with whether the server accepted it.
    std::function<void(bool accepted)> settled;
    // The end-of-data bytes held and the final replies still due.
    smtp::Finals finals;

    // Called while the server works on a message's data, before its final
    // reply is read (a queue pass reads its next message meanwhile).
    std::function<void()> awaiting_reply;

    // The address family the send's connections use (the AddressFamily
    // option, read once when the send starts).
    options::Family family = options::Family::Auto;

    // The DKIM signer of this send, when the options ask for one
    // (dkim/signer.h): every message goes out signed.
    std::shared_ptr<const dkim::Signer> dkim;
};

}  // namespace vellor
