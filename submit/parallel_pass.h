// A queue pass over several connections at once (the QueueConnections
// option above 1). Each connection, a lane, is a task of one loop the pass
// runs on the calling thread (platform/task_loop.h): a lane is written as
// plain blocking code, and where it would wait on the network it gives the
// thread to the other lanes, the loop waiting on every lane's socket at
// once. Each lane has its own companion block, session record, connection
// and copy of the request record (made when the pass begins), and takes the
// directory's entries one at a time, in name order, from the one search the
// lanes share: each entry's path is checked and its file claimed there, so
// every message goes over one connection only, and the pass sends at most
// nMaxMessages of them as a single connection would.
//
// The lanes never call the application. Each report is posted, with a copy
// of the lane's record as it was then, and handed out after the loop's turn:
// the pass writes the request record's fields from it and then calls the
// status callback, on the thread that called VELLOR_Send_Message, each
// message's reports in their order. A callback that returns a value other
// than 0 ends the pass: no lane takes another entry, each finishes the
// message it has in hand and closes its connection. A lane's Stop or Abort
// ends the pass the same way. No message is read ahead: the connections
// overlap each other instead.
//
// Waits: a lane's sends and receives wait through the loop, each bounded by
// its step's deadline (transport/connection.h), an MTA-STS policy fetch's
// too; its connects and its DNS lookups (MX, addresses, DANE, MTA-STS) run
// aside on a thread of their own, the other lanes going on meanwhile. Its
// file work holds the thread while it lasts.
// Relies on the queue pass (submit/queue_pass.h) and the message turn
// (submit/message_turn.h).
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
