// DANE for SMTP (RFC 7672): the TLSA records of one mail exchanger, at
// _25._tcp.<exchanger> whatever port the delivery dials, looked up only when
// the MX answer naming the exchanger and the exchanger's address answer are
// secure. An answer is secure when the DNS server set AD and the server is
// trusted to have validated it: every server asked is on a loopback address,
// or the caller trusts the configured servers (the DNSSECTrusted option).
// Relies on the companion's DNSSEC query (transport/companion.h).
#pragma once
#include <string>
#include <vector>

#include "transport/tls_session.h"

namespace vellor::resolve {

struct DaneLookup {
    enum class Kind {
        None,      // DANE does not apply (an answer not secure, or no TLSA record)
        Usable,    // usable records: TLS required, the certificate must match one
        Unusable,  // secure records, none usable: TLS required, not authenticated
        Failed,    // the TLSA lookup failed for a secure exchanger: it must not be used
    };
    Kind kind = Kind::None;
    std::vector<transport::Tlsa> records;  // Usable: the usable records
    std::string why;                       // None and Failed: the reason, for the log
};

// The address families a delivery may dial an exchanger on (a mask): the
// address answers that must be secure are those of these families.
constexpr int kDialsIpv4 = 1, kDialsIpv6 = 2;
// The families of addresses as dialled.
int families_of(const std::vector<std::string> &addresses);

DaneLookup dane_lookup(const std::string &domain, const std::string &exchanger, int families, bool trusted_servers);

// A record is usable for SMTP: DANE-TA (2) or DANE-EE (3), selector 0 or 1,
// matching type 0 (some data), 1 (32 bytes) or 2 (64 bytes).
bool usable_tlsa(const transport::Tlsa &t);

}  // namespace vellor::resolve
