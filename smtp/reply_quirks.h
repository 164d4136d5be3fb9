// The classic judgements of a reply that read more than its code, each by
// name, so the session's decisions are on codes everywhere else. Relies on
// the parsed reply (smtp/reply.h).
#pragma once
#include "smtp/reply.h"

namespace vellor::smtp {

// HELO or EHLO goes on when "250" appears anywhere in the reply's kept
// text: a "501 ... 250 ..." passes, a "251 forwarding" does not.
bool helo_passes(const Reply &r);
// The end of data is accepted only by a 250 whose code ends its word
// ("250 " or "250-"): a "2503" is no acceptance.
bool data_accepted(const Reply &r);
// DATA may be sent only after a 354 whose code ends its word ("354 " or
// "354-").
bool data_ready(const Reply &r);

}  // namespace vellor::smtp
