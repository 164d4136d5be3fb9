// Fuzzes the envelope reader and the address check over its lines.
#include <cstdint>
#include <string>

#include "msgfiles/envelope_reader.h"
#include "msgfiles/recipients.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string bytes(reinterpret_cast<const char *>(data), size);
    vellor::envelope::read_envelope(bytes, [](const vellor::envelope::Line &line) {
        vellor::is_valid_address(line.address, "fuzz");
        return line.address.size() <= 255;
    });
    return 0;
}
