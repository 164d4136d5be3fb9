// The one per-entry loop of every queue pass, over one connection (a
// lane): each entry its source hands over made the message in hand and
// given to the pass's send, until the source has none left for the lane or
// a send ends the pass (Stop, Abort). Where the entries come from, how a
// file is claimed and what a result counts for are the source's: the
// calling thread's own search (submit/queue_pass.cpp) or the search the
// lanes of a parallel pass share (submit/parallel_pass.cpp). Relies on
// submit/queue_pass.h for the pass and the hand-over of an entry.
#pragma once
#include <string>

#include "submit/message_file.h"
#include "submit/queue_pass.h"

namespace vellor {

// An entry taken: its path (`usable` when it fits the record), its number
// among the entries looked at (from 1) and its file, claimed while the
// entry is in hand.
struct TakenEntry {
    std::string path;
    bool usable = false;
    int number = 0;
    MessageFile file;
};

class EntrySource {
public:
    virtual ~EntrySource() = default;
    // The next entry for `c`'s lane; false when the pass has none left for it.
    virtual bool take(Delivery &c, TakenEntry &entry) = 0;
    // The entry in hand, made the message in hand, goes to the send now.
    virtual void sending(Delivery &) {}
    // What its send came to.
    virtual void done(EntryResult result) = 0;
    // The entry's send failed because the server limits its connections
    // (the session's `limit_reason`): true when the source took the entry
    // back, its file closed, for its other lanes, and this lane ends; false
    // when it fails as on any connection.
    virtual bool take_back(Delivery &, TakenEntry &) { return false; }
};

// Sends what `from` hands over through `lane`; true when it handed anything.
bool send_entries(Lane &lane, const QueuePass &pass, EntrySource &from);

}  // namespace vellor
