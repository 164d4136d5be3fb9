// Fuzzes the reply assembler: the input is cut into pieces at the sizes its
// first bytes give, fed piece by piece, and every reply that comes out must
// be whole (ending in LF), held within 511 bytes, and never longer than the
// bytes fed.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "smtp/reply_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    std::size_t step = 1 + data[0] % 64;
    vellor::smtp::ReplyReader reader;
    std::size_t fed = 0, taken = 0;
    for (std::size_t pos = 1; pos < size; pos += step) {
        std::size_t n = std::min(step, size - pos);
        fed += n;
        bool whole = reader.feed(reinterpret_cast<const char *>(data) + pos, n);
        while (whole) {
            const std::string &t = reader.text();
            if (t.size() > vellor::smtp::ReplyReader::kKept) std::abort();
            if (t.size() < vellor::smtp::ReplyReader::kKept && (t.empty() || t.back() != '\n')) std::abort();
            taken += reader.length();
            if (taken > fed) std::abort();
            reader.next();
            whole = reader.ready();
        }
    }
    return 0;
}
