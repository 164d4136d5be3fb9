// One send call's delivery: the session it talks through (smtp/session.h:
// the reports, the connection, the login state, what the server offered) and
// what the delivery itself holds as it walks its files, recipients and
// servers: the caller's record, the message in hand, the envelope it read,
// the files held for other recipients, a queue pass's options, the HELO
// domain, the count of messages sent, the address family and the DKIM
// signer. The session sees none of these: the delivery hands each
// transaction its message, envelope, options and signer
// (submit/message_file.h's Handover, smtp/transaction.h's Handoff), and the
// session's results come back through the calls it implements here.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "msgfiles/message_details.h"
#include "smtp/message_source.h"
#include "smtp/session.h"
#include "support/options.h"

namespace vellor {
namespace dkim {
struct Signer;
}

struct HeldFiles;  // submit/mx_steps.h

struct Delivery : smtp::Session {
    // The caller's record: the delivery shows the message in hand, its
    // counts and the session's results in it (submit/message_in_hand.h);
    // set with `take_record`, which also hands it to the callback.
    SMTPSEND_STRUCTURE *req = nullptr;
    void take_record(SMTPSEND_STRUCTURE *record) {
        req = record;
        address(record);
    }

    // szHeloDomain as the delivery took it when the send began, and as it
    // shows it since (show_helo_domain).
    std::string helo_domain;

    // The messages the servers accepted, shown in nMessagesSent
    // (show_messages_sent): the record's count when the send began, or a
    // lane's own from 0.
    int32_t messages_sent = 0;

    // While set, the message options of a queue pass, read once when the
    // pass began; each transaction reads them afresh otherwise.
    const options::MessageOptions *pass_options = nullptr;

    // While set, an accepted message file is held here instead of removed:
    // the delivery removes it once every recipient it was meant for took it.
    HeldFiles *held = nullptr;

    // The envelope of the message in hand as the delivery read it: checked
    // before the message and its envelope are removed.
    std::shared_ptr<EnvelopeSeen> envelope;  // made on first use (submit/message_turn.h)

    // The message in hand: the delivery's own value as it walks files,
    // recipients and servers (the request record only shows it, see
    // submit/message_in_hand.h).
    smtp::Message hand;

    // The address family the send's connections use (the AddressFamily
    // option, read once when the send starts).
    options::Family family = options::Family::Auto;

    // The DKIM signer of this send, when the options ask for one
    // (dkim/signer.h): every message goes out signed.
    std::shared_ptr<const dkim::Signer> dkim;

    // The session's error code, shown in nErrorCode (message_in_hand.cpp).
    void show_error(int code) override;
    // The sender's domain the session greets with, kept in an empty szHeloDomain.
    void show_helo_domain(const std::string &domain) override;
    // The login data's Base64 forms, over szAuthUser and szAuthPassword.
    void show_login_forms(const EncodedLogin &forms) override;

    // The message options for the next transaction: the pass's, else read now.
    options::MessageOptions message_options() const {
        return pass_options ? *pass_options : options::message_options(own);
    }
};

}  // namespace vellor
