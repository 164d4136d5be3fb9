// One message's turn in a delivery: its file opened and claimed (or taken
// from the read-ahead), handed to the session for the transaction, and
// after the server's acceptance removed, held for other recipients, or
// left. Relies on submit/message_file.h and the session's transactions
// (smtp/transaction.h).
#pragma once
#include <string>

#include "msgfiles/message_details.h"
#include "smtp/call.h"
#include "smtp/transaction.h"
#include "submit/message_file.h"
#include "submit/read_ahead.h"

namespace vellor {

// The envelope of the message in hand as the delivery read it, made on first
// use: checked before the message and its envelope are removed.
inline EnvelopeSeen &envelope_of(Call &c) {
    if (!c.envelope) c.envelope = std::make_shared<EnvelopeSeen>();
    return *c.envelope;
}

// A queue entry's file, from the read-ahead when it holds it, else opened
// and claimed here. False, after a report, when another sender holds it:
// the entry is passed over and counts for nothing.
bool claim_entry(Call &c, ReadAhead *ahead, const std::string &path, MessageFile &file);

// The message in hand (Call::hand) as a whole conversation (connecting when asked):
// `file` when the caller holds it, else the message's file opened here. 0
// when the server accepted it (its file then removed, held or left), -1 if
// not.
int deliver_message(Call &c, int connectFlag, MessageFile *file = nullptr);
// The same as one message of a batch, over the batch's connection.
BatchResult deliver_batch_message(Call &c, int firstFlag, MessageFile &file);

}  // namespace vellor
