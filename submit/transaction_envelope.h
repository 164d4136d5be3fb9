// The envelope of one transaction (smtp/envelope.h), built by the delivery
// from the message in hand and the request's recipient form (bViaMX,
// bSingleRecipient, nRecipients and the list, as the send began or as an
// envelope read left them), and handed to the session. A list of one
// settles the recipient in hand here (shown in szRecipient); a batch
// message counts one recipient when the request names none; a longer list
// stays locked (lpRecipients) until the record is prepared again.
#pragma once
#include "submit/delivery_context.h"
#include "smtp/envelope.h"

namespace vellor {

// `conversation`: a whole conversation, else one message of a batch.
smtp::Envelope envelope_for(Delivery &c, bool conversation);

}  // namespace vellor
