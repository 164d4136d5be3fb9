// The per-entry loop of a queue pass's lane (see entry_loop.h).
#include "submit/entry_loop.h"

namespace vellor {

bool send_entries(Lane &lane, const QueuePass &pass, EntrySource &from) {
    Delivery &c = lane.call;
    bool took = false;
    for (TakenEntry e; from.take(c, e); e.file.close()) {
        took = true;
        if (!hand_entry(c, pass, e.path, e.usable, e.number)) continue;
        from.sending(c);
        EntryResult result = pass.send(lane, e.file);
        from.done(result);
        if (result == EntryResult::Stop || result == EntryResult::Abort) break;
    }
    return took;
}

}  // namespace vellor
