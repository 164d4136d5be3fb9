// Message files on disk: the message extension in force and the envelope
// path of a message file.
#pragma once
#include <string>

#include "vellorapi.h"

namespace vellor {

// The error code of an envelope naming more recipients than nRecipients,
// a 16-bit count, can hold (32767): such a message is not sent at all.
constexpr int kEnvelopeTooLarge = VELLOR_ERR_BAD_RECIPIENT;

// szMsgExtension, filled from the MsgExtension option or "TXT" when empty.
std::string ensure_msg_extension(SMTPSEND_STRUCTURE *request);

// The envelope path of a message file: up to its last '.', then ".ENV"; a
// name without '.' gets ".ENV" appended to the whole name.
std::string envelope_path_of(const std::string &messageFile);

}  // namespace vellor
