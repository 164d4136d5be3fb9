// Under SecureConnection 4, the TLS each mail exchanger of a recipient's
// domain gets, chosen before connecting to it: DANE (RFC 7672) where the
// exchanger publishes usable TLSA records in a secure answer
// (resolve/dane_lookup.h); else MTA-STS (RFC 8461) where the domain has a
// policy (submit/mta_sts.h): under enforce an exchanger its mx patterns do
// not name is passed over, under testing it is reported and used; else
// opportunistic TLS, as SecureConnection 3. The choice goes into the
// message in hand (smtp::Protection), which the session follows.
#pragma once
#include <optional>
#include <string>

#include "resolve/address_choice.h"
#include "submit/delivery_context.h"
#include "submit/mta_sts.h"

namespace vellor {

class ExchangerSecurity {
public:
    // The options are read here; nothing is looked up until arm(). An empty
    // domain (an address literal) has neither DANE nor MTA-STS. `classic`
    // names the exchanger of each address of the MX resolution, in order.
    ExchangerSecurity(Delivery &c, std::string domain, std::vector<std::string> classic = {});
    bool active() const { return active_; }
    // Chooses the exchanger's TLS into c.hand.protection; `families` are
    // those it may be dialled on (resolve::kDialsIpv4, kDialsIpv6), whose
    // address answers DANE needs secure. False after the reports when the
    // exchanger must not be used (its TLSA lookup failed, or an enforced
    // MTA-STS policy does not name it).
    bool arm(Delivery &c, const std::string &exchanger, int families);
    // The same for attempt number `k` of a single recipient: its exchanger
    // is the attempt's host, else classic[k]; its families its addresses'.
    bool arm(Delivery &c, std::size_t k, const resolve::Attempt &attempt);

private:
    const sts::Policy *policy(Delivery &c);

    bool active_ = false;   // SecureConnection 4
    bool trusted_ = false;  // DNSSECTrusted 1
    std::string domain_;
    std::vector<std::string> classic_;
    options::MessageOptions opts_;
    bool policy_read_ = false;
    std::optional<sts::Policy> policy_;
};

}  // namespace vellor
