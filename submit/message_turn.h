// One message's turn in a delivery: its file opened and claimed (or taken
// from the read-ahead), handed to the session for the transaction, and
// after the server's acceptance removed, held for other recipients, or
// left. Relies on submit/message_file.h and the session's transactions
// (smtp/transaction.h).
#pragma once
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "msgfiles/message_details.h"
#include "submit/delivery_context.h"
#include "smtp/transaction.h"
#include "submit/message_file.h"
#include "submit/queue_pass.h"
#include "submit/read_ahead.h"

namespace vellor {

// The envelope of the message in hand as the delivery read it, made on first
// use: checked before the message and its envelope are removed.
inline EnvelopeSeen &envelope_of(Delivery &c) {
    if (!c.envelope) c.envelope = std::make_shared<EnvelopeSeen>();
    return *c.envelope;
}

// A queue entry's file, from the read-ahead when it holds it, else opened
// and claimed here. False, after a report, when another sender holds it:
// the entry is passed over and counts for nothing.
bool claim_entry(Delivery &c, ReadAhead *ahead, const std::string &path, MessageFile &file);

// The message in hand (Delivery::hand) as a whole conversation (connecting when asked):
// `file` when the caller holds it, else the message's file opened here. 0
// when the server accepted it (its file then removed, held or left), -1 if
// not.
int deliver_message(Delivery &c, int connectFlag, MessageFile *file = nullptr);
// The same as one message of a batch, over the lane's connection (its
// `first` connects). InFlight: the file went to the lane's FilesInFlight,
// which settles it once its final reply is in.
BatchResult deliver_batch_message(Lane &lane, MessageFile &file);

// A lane's batch messages whose final reply is due (smtp/final_replies.h):
// each file kept open and claimed, with the message in hand and its
// envelope as they were, until the session settles it. Accepted, it is
// removed, held or left as after a lockstep acceptance, and counted in
// nMessagesSent; not accepted, it stays. Settled in order, while the call
// shows the message settled (its final reply's reports too); the message in
// hand is then shown again.
class FilesInFlight {
public:
    explicit FilesInFlight(Delivery &c);
    ~FilesInFlight();  // the files not settled stay
    FilesInFlight(const FilesInFlight &) = delete;
    FilesInFlight &operator=(const FilesInFlight &) = delete;
    void hold(MessageFile &&file);

private:
    struct Held {
        MessageFile file;
        smtp::Message hand;
        std::shared_ptr<EnvelopeSeen> envelope;
    };
    void settle(bool accepted, const std::function<void()> &report);
    Delivery &c_;
    std::deque<Held> held_;
};

}  // namespace vellor
