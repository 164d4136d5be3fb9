// The choice of delivery procedure: a pure function of the checked request,
// and the switch that runs the chosen one.
#include "submit/delivery.h"
#include "support/text.h"

namespace vellor {

Route route_of(const SMTPSEND_STRUCTURE &r, bool server_given) {
    if (server_given) {
        if (!r.bSingleRecipient && r.nRecipients < 1 && !r.bUseEnvFile) return Route::RelayNothing;
        return r.bMessageDirectory && r.bUseEnvFile ? Route::RelayEnvelopeDirectory : Route::Relay;
    }
    // The MX opening makes a single recipient with a sender a count of one.
    bool single = r.bSingleRecipient && !empty(r.szRecipient);
    int count = single && !empty(r.szSender) ? 1 : r.nRecipients;
    if (r.bMultipleRecipients && count >= 2) return Route::MxRecipientList;
    if (single) return Route::MxSingleRecipient;
    if (count == 1 && empty(r.szRecipient) && empty(r.szServer) && r.hRecipients) return Route::MxSingleFromList;
    if (r.bUseEnvFile) return Route::MxEnvelope;
    return Route::MxNothing;
}

int deliver_by(Delivery &c, Route route) {
    switch (route) {
        case Route::RelayEnvelopeDirectory:
            return relay_envelope_directory(c);
        case Route::Relay:
            return relay_send(c);
        case Route::RelayNothing:
            return 0;
        default:
            break;
    }
    mx_opening(c);
    switch (route) {
        case Route::MxRecipientList:
            return mx_recipient_list(c);
        case Route::MxSingleRecipient:
            return mx_single_recipient(c);
        case Route::MxSingleFromList:
            return mx_single_from_list(c);
        case Route::MxEnvelope:
            return mx_envelope(c);
        default:
            return 0;
    }
}

}  // namespace vellor
