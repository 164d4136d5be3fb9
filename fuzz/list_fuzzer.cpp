// Fuzzes the recipient list: the parser, the sequential reader and the pick
// by number, on a list block without a NUL (read within its size only).
#include <cstdint>
#include <cstring>
#include <string>

#include "msgfiles/recipients.h"
#include "vellorapi.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    int count = 0;
    vellor::parse_recipient_list("fuzz", text, count);
    vellor::rcpt_entries(text, 8);
    vellor::bracket_cut(text);
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, size ? size : 1);
    if (!h) return 0;
    if (size) std::memcpy(GlobalLock(h), data, size);
    GlobalUnlock(h);
    uint32_t offset = 0;
    for (int i = 0; i < 64; ++i) {
        std::string address;
        vellor::next_recipient(h, address, offset);
        if (address.empty()) break;
    }
    SMTPSEND_STRUCTURE req{};
    req.hRecipients = h;
    for (int n = 1; n <= 4; ++n) vellor::select_recipient(&req, n);
    GlobalFree(h);
    return 0;
}
