// A DNS answer as bytes, read for what the DNSSEC-aware lookups need: its
// response code, its AD bit, and the data of its records of one type in
// the answer section, in order (an MX's exchanger and a CNAME's target as
// text; a TXT record's strings joined; any other type's data as sent).
// Pure byte work: anything malformed (a name pointer that loops or leaves
// the message, data past its record) reads as not ok.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace vellor::resolve {

constexpr uint16_t kTypeA = 1, kTypeMx = 15, kTypeTxt = 16, kTypeAaaa = 28, kTypeTlsa = 52;

struct DnsAnswer {
    bool ok = false;
    int rcode = 0;                     // 0 no error, 3 no such domain, ...
    bool authentic = false;            // the server set AD: it validated the answer
    std::vector<std::string> records;  // the data of the records of the type asked for
};

DnsAnswer read_dns_answer(const std::string &packet, uint16_t type);

}  // namespace vellor::resolve
