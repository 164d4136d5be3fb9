// One transaction's envelope as a value: the sender, the recipients named
// in RCPT TO, and how the reports name them. The delivery builds it for
// each transaction (submit/transaction_envelope.h) and hands it to the
// session with the message; the session sends these addresses and reads
// nothing else to choose them.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace vellor::smtp {

struct Envelope {
    std::string sender;                   // MAIL FROM
    std::string recipient;                // the recipient in hand (checked before anything goes)
    std::vector<std::string> recipients;  // RCPT TO, in order
    bool singular = false;                // a refusal reads "was": the one recipient of an MX delivery
    std::string accepted_to;              // the end report's recipients: "[a@b]", "2 recipient sent", "2 recipient(s)"
    std::string utf8_recipient;           // a recipient holding UTF-8 as reports name it, or empty
    std::string helo_domain;              // the name HELO/EHLO gives (empty: the fall-back names)
    // The list's one entry did not fit the recipient field of this size:
    // the transaction fails with 912 at RCPT TO (0: it fitted).
    std::size_t unfit_field = 0;
};

}  // namespace vellor::smtp
