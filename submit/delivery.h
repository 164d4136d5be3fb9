// The delivery procedures that VELLOR_Send_Message chooses between, and
// Send_Queued_Messages, which sends one message or the queued files of a
// directory over a prepared session. Each returns the call's result, 0 or -1.
#pragma once
#include <string>

#include "submit/delivery_context.h"

namespace vellor {

int Send_Queued_Messages(Delivery &call, int connectFlag);

// Starts the call's companion (transport::Connection::start_companion);
// false after the report (918) when it cannot start.
bool start_companion(Delivery &call);

// Through a relay server.
int relay_envelope_directory(Delivery &call);  // a directory of messages with envelopes
int relay_send(Delivery &call);                // one message, or a directory without envelopes

// Straight to the recipients' mail exchangers.
void mx_opening(Delivery &call);
int mx_recipient_list(Delivery &call);    // each recipient of a list over its own connection
int mx_single_recipient(Delivery &call);  // szRecipient, its domain's exchangers in turn
int mx_single_from_list(Delivery &call);  // the one recipient of a list
int mx_envelope(Delivery &call);          // sender and recipients from envelope files

// The delivery procedure a checked request gets: the first of these whose
// condition holds, decided from the request alone (delivery_route.cpp).
enum class Route {
    RelayNothing,            // a relay with nothing to send
    RelayEnvelopeDirectory,  // a relay, a message directory with envelopes
    Relay,                   // a relay, anything else
    MxRecipientList,         // MX, a list of two or more
    MxSingleRecipient,       // MX, one recipient in szRecipient
    MxSingleFromList,        // MX, a list of one
    MxEnvelope,              // MX, sender and recipients from envelopes
    MxNothing,               // MX with no recipient form: only the opening
};
Route route_of(const SMTPSEND_STRUCTURE &request, bool server_given);
// Runs the route's procedure (the MX opening first for every MX route).
int deliver_by(Delivery &call, Route route);

// Ends a batch connection: QUIT, one read of the reply (neither judged),
// then the companion closes the socket. True when the close succeeded.
bool close_batch_connection(Delivery &call);

}  // namespace vellor
