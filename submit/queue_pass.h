// The one queue pass of every directory mode (the relay directory, the
// relay envelope directory, the MX envelope directory): the entries of a
// message directory matching a pattern, in name order, at most
// queue_limit(nMaxMessages) of them; each entry's path checked to fit the
// record, its file opened and claimed (or taken from the read-ahead) and
// passed over when another sender holds it, its number put in nAttempt and
// its path in szMessageFile, its envelope read when the mode asks, then
// handed to the mode's own send, which sends it through the session; the
// session's acceptance, the version check and the removal are the message
// turn's (submit/message_turn.h). The message options are read once, when
// the pass begins. The modes differ only in the parameters below. A pass
// sends over one connection, its lane; the mode's state for a connection
// lives in the lane.
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "submit/delivery_context.h"
#include "submit/message_file.h"
#include "submit/read_ahead.h"

namespace vellor {

enum class EntryResult {
    Sent,      // accepted (by at least one recipient)
    InFlight,  // sent, its final reply due: the lane's FilesInFlight settles it
    Failed,    // not sent; the pass goes on
    Stop,      // not sent; the pass ends
    Abort,     // the pass ends and fails
};

// One connection of a pass: the call it sends through and the mode's state
// for it.
class FilesInFlight;  // submit/message_turn.h

struct Lane {
    explicit Lane(Delivery &c) : call(c) {}
    Delivery &call;
    int first = 1;     // the next message connects first (a batch)
    int accepted = 0;  // transactions the servers accepted
    // The files of the batch messages whose final reply is due, made by the
    // first batch message; gone with the lane, after its closing step.
    std::shared_ptr<FilesInFlight> flight;
};

struct QueuePass {
    bool first_only = false;  // only the first entry found, whatever becomes of it
    bool envelopes = false;   // each entry's envelope read first; an unusable one is not sent
    bool read_ahead = false;  // the next entry read while the server answers the current one
    // Once the search found an entry, before the first is looked at; false aborts the pass.
    std::function<bool()> start;
    std::function<EntryResult(Lane &, MessageFile &)> send;
    // After a lane's last entry (unless start() aborted the pass): its connection closed.
    std::function<void(Lane &)> finish;
};

struct PassCount {
    int seen = 0;      // entries looked at (those another sender held not counted)
    int sent = 0;      // entries sent
    int accepted = 0;  // transactions accepted, over every lane
    int limited = 0;   // connections the server's connection limits ended (several at once)
    bool found = false, aborted = false;
};

PassCount run_queue_pass(Delivery &call, const std::string &directory, const QueuePass &pass);

// The steps of a pass that a single message shares.
// A queued entry is sent only when its path fits the record (and, checked
// when it is opened, it is a regular file itself); false after a report
// saying why it was skipped.
bool usable_entry(Delivery &call, const std::string &path);
// An entry taken by the pass (its path `usable`, its file claimed) as the
// message in hand: its number (from 1) in nAttempt, its path in
// szMessageFile, its envelope read when the pass asks; false when it is not
// to be sent.
bool hand_entry(Delivery &call, const QueuePass &pass, const std::string &path, bool usable, int number);
// Reads the message's envelope into the request; false after a report
// saying why the message cannot go (the file stays). A queued message
// (`queued`) must have an envelope of its own naming its sender and a
// recipient: the request's sender and recipient are emptied first, so that
// a missing or incomplete envelope is refused (911) instead of sending the
// message to the previous message's addresses.
bool use_envelope(Delivery &call, bool queued = true);
int queue_limit(int32_t maxMessages);  // nMaxMessages above 0, else 250
// The queue's entries are the files "*." + szMsgExtension (the request's,
// else the MsgExtension option, else "TXT", filled in before the send): one
// value for the count reported beforehand, the choice of a batch and the
// files the pass sends.
std::string queue_pattern(const Delivery &c);
int count_queued(const Delivery &c, const std::string &directory);

}  // namespace vellor
