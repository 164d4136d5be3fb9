// The per-entry loop of a queue pass's lane (see entry_loop.h).
#include "submit/entry_loop.h"

namespace vellor {
namespace {

// The send failed, or ended the lane's session, by the server's connection limits.
bool limited(EntryResult result, const Delivery &c) {
    return (result == EntryResult::Failed || result == EntryResult::Stop) && !c.limit_reason.empty();
}

}  // namespace

bool send_entries(Lane &lane, const QueuePass &pass, EntrySource &from) {
    Delivery &c = lane.call;
    bool took = false;
    for (TakenEntry e; from.take(c, e); e.file.close()) {
        took = true;
        if (!hand_entry(c, pass, e.path, e.usable, e.number)) continue;
        from.sending(c);
        EntryResult result = pass.send(lane, e.file);
        if (limited(result, c) && from.take_back(c, e)) break;
        from.done(result);
        if (result == EntryResult::Stop || result == EntryResult::Abort) break;
    }
    return took;
}

}  // namespace vellor
