// A queue pass over several connections at once (the QueueConnections
// option above 1). Each connection, a lane, runs on a thread of its own with
// its own companion block, session record, connection and copy of the
// request record (made when the pass begins), and takes the directory's
// entries one at a time, in name order, from the one search the lanes share
// under a lock: each entry's path is checked and its file claimed there, so
// every message goes over one connection only, and the pass sends at most
// nMaxMessages of them as a single connection would.
//
// The lanes never call the application. Each report is posted, with a copy
// of the lane's record as it was then, to the calling thread, which writes
// the request record's fields from it and then calls the status callback:
// the callback runs on the thread that called VELLOR_Send_Message, and each
// message's reports reach it in their order. A callback that returns a
// value other than 0 ends the pass: no lane takes another entry, each
// finishes the message it has in hand and closes its connection. A lane's
// Stop or Abort ends the pass the same way. No message is read ahead: the
// connections overlap each other instead.
//
// Waits: a lane waits only on the network, each wait bounded by its step's
// deadline (transport/connection.h), and never on the calling thread (its
// reports are queued); the calling thread waits for reports one time-out at
// a time until every lane has ended. Relies on the queue pass
// (submit/queue_pass.h) and the message turn (submit/message_turn.h).
#pragma once
#include <string>

#include "platform/file_search.h"
#include "submit/queue_pass.h"

namespace vellor {

// Sends the entries of `search` (standing at its first) over up to `lanes`
// connections; the counts go into `n`. Afterwards the message in hand is the
// one the record shows: the last one reported.
void run_parallel_pass(Delivery &c, const std::string &dir, const QueuePass &pass, files::Search &search, int lanes,
                       int limit, PassCount &n);

}  // namespace vellor
