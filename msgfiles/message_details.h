// Message files on disk: the message extension in force, the envelope
// path of a message file, and the envelope read into the request.
#pragma once
#include <string>

#include "platform/files.h"
#include "support/request_options.h"
#include "vellorapi.h"

namespace vellor {

// The error code of an envelope naming more recipients than nRecipients,
// a 16-bit count, can hold (32767): such a message is not sent at all.
constexpr int kEnvelopeTooLarge = VELLOR_ERR_BAD_RECIPIENT;

// szMsgExtension, filled from the MsgExtension option (the record's own
// value `own` first) or "TXT" when empty.
std::string ensure_msg_extension(SMTPSEND_STRUCTURE *request, const options::RequestValues &own);

// An envelope file as it was when read: its path and version (size -1:
// there was none), so that it is removed only while it is still that.
struct EnvelopeSeen {
    std::string path;
    files::Stamp stamp;
};

// VELLOR_Get_Message_Details without its exception guard: the message file
// (a directory's first) and its envelope read into the request; 0, or -1
// with nErrorCode. `seen`, when given, notes the envelope as read. Inside a
// send szMsgExtension is already filled; outside one the options file's
// MsgExtension fills it.
int read_message_details(SMTPSEND_STRUCTURE *request, EnvelopeSeen *seen = nullptr);

// The envelope `seen` noted for message file `name` is still there at that
// version (or still absent); true when `seen` is about another file.
bool envelope_as_seen(const EnvelopeSeen &seen, const std::string &name);

// The envelope path of a message file: up to its last '.', then ".ENV"; a
// name without '.' gets ".ENV" appended to the whole name.
std::string envelope_path_of(const std::string &messageFile);

}  // namespace vellor
