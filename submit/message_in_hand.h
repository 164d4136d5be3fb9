// The message in hand (Delivery::hand: file, sender, recipient, server and its
// address, attempt) and the request record. The delivery walks its files,
// recipients and servers in this value, never in the record, and hands it
// to the session with each transaction. The delivery writes the record's
// szMessageFile, szSender, szRecipient, szServer, szServerIP and nAttempt
// here only, each time the value changes, so that the application sees the
// message in hand during the call (its callback) and the last one after it,
// as documented. The session's results reach the record here too: its
// error code as it happens (Delivery::show_error, nErrorCode), the HELO
// domain it greets with (szHeloDomain) and the login data's Base64 forms
// (szAuthUser, szAuthPassword); and so does the delivery's count of
// messages sent (nMessagesSent). The values of the request a send reads
// once (the login, the message block, szHeloDomain) are taken here too,
// when it begins. The steps whose documented result is the record itself (an
// envelope read, a list entry selected, a list of one settled for a
// transaction, submit/transaction_envelope.h) write it on their own; the
// value is then taken back from it.
#pragma once
#include "submit/delivery_context.h"

namespace vellor {

// What the delivery takes from the request once, when the send begins:
// the login's user and password (Session::login), the message block and
// whether the path names a message directory (the message in hand's
// source), szHeloDomain and nMessagesSent.
void take_request(Delivery &c);
// The value taken from the record: when the delivery starts, and after a
// step that writes the record itself.
void take_from_record(Delivery &c);
// The value written into the record; false when one of its texts does not
// fit its field (that field is left empty, in the value too: never cut).
[[nodiscard]] bool show_in_record(Delivery &c);
// The HELO domain: szHeloDomain, else the sender's domain (shown there
// once the session greets with it, Delivery::show_helo_domain).
std::string helo_domain_of(const Delivery &c, const std::string &sender);
// nMessagesSent: the delivery's count set to `count` and shown at once (a
// report after it sees the new count).
void show_messages_sent(Delivery &c, int32_t count);
// The login data's Base64 forms over szAuthUser and szAuthPassword, each
// only when it fits (else the caller's text stays: never a cut value); an
// empty user name clears the password.
void show_login_forms(SMTPSEND_STRUCTURE &r, const EncodedLogin &forms);

}  // namespace vellor
