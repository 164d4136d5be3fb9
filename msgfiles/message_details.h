// Message files on disk: the message extension in force, the envelope
// path of a message file, and the envelope read into the request.
#pragma once
#include <string>

#include "vellorapi.h"

namespace vellor {

// The error code of an envelope naming more recipients than nRecipients,
// a 16-bit count, can hold (32767): such a message is not sent at all.
constexpr int kEnvelopeTooLarge = VELLOR_ERR_BAD_RECIPIENT;

// szMsgExtension, filled from the MsgExtension option or "TXT" when empty.
std::string ensure_msg_extension(SMTPSEND_STRUCTURE *request);

// VELLOR_Get_Message_Details without its exception guard: the message file
// (a directory's first) and its envelope read into the request; 0, or -1
// with nErrorCode.
int read_message_details(SMTPSEND_STRUCTURE *request);

// The envelope path of a message file: up to its last '.', then ".ENV"; a
// name without '.' gets ".ENV" appended to the whole name.
std::string envelope_path_of(const std::string &messageFile);

}  // namespace vellor
