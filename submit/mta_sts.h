// MTA-STS (RFC 8461) for delivery by MX: a domain's policy, found through
// its TXT record _mta-sts.<domain> ("v=STSv1; id=...") and fetched over
// HTTPS from https://mta-sts.<domain>/.well-known/mta-sts.txt
// (transport/https_get.h), kept in the cache file the MTASTSCacheFile
// option names (mode 0600) up to its max_age and fetched again when the
// TXT record's id changes. With the TXT record gone and the policy server
// unreachable, a cached policy still applies.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "submit/delivery_context.h"
#include "support/options.h"

namespace vellor::sts {

enum class Mode { None, Testing, Enforce };

struct Policy {
    Mode mode = Mode::None;
    std::vector<std::string> mx;  // the mx patterns, lower case ("*.example.net" allowed)
    long long max_age = 0;        // seconds
    std::string id;               // the TXT record's id it was fetched under
};

// The id of a domain's TXT records ("v=STSv1; id=...;"): nullopt when no
// record or more than one begins "v=STSv1", or its id is not 1 to 32
// letters and digits.
std::optional<std::string> txt_id(const std::vector<std::string> &records);
// A policy's text (RFC 8461 3.2, "key: value" lines): nullopt without
// "version: STSv1", a mode, a max_age, or (unless the mode is none) an mx.
std::optional<Policy> parse_policy(const std::string &text);

// The domain's policy for this delivery, or nullopt when it has none (or
// none could be had: reported).
std::optional<Policy> policy_for(Delivery &c, const std::string &domain, const options::MessageOptions &o);

// The policy names the exchanger: an mx pattern equal to it, or "*." and a
// suffix that leaves exactly one label before it.
bool mx_matches(const Policy &p, const std::string &host);

}  // namespace vellor::sts
