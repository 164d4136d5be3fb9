// Fuzzes the companion's own DNS answer reader (the Windows resolver's
// fallback, fed whatever a UDP packet holds) with an MX and a PTR reading of
// each input, the id taken from the input so the reading goes past the
// header. Whatever the bytes: no read outside them, records only with a
// Found outcome, and every name read is one a query could carry again
// (labels of 1 to 63 bytes without a dot or NUL, 253 characters at most),
// so no name is ever cut to fit the record's field.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "korvex/dns_message.h"

namespace {

void read_as(const std::string &packet, uint16_t id, uint16_t type) {
    std::vector<korvex::MxHost> records;
    korvex::Lookup outcome = korvex::dns::read_answer(packet, id, type, records);
    if ((outcome == korvex::Lookup::Found) == records.empty()) std::abort();
    for (const korvex::MxHost &r : records) {
        if (r.host.size() > 253 || r.host.find('\0') != std::string::npos) std::abort();
        if (!r.host.empty() && korvex::dns::query(id, r.host, type).empty()) std::abort();
        if (type != 15 && r.preference != 0) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string packet(reinterpret_cast<const char *>(data), size);
    uint16_t id = size >= 2 ? static_cast<uint16_t>(data[0] << 8 | data[1]) : 0;
    read_as(packet, id, 15);
    read_as(packet, id, 12);
    return 0;
}
