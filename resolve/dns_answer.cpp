// The DNS answer reader; see dns_answer.h.
#include "resolve/dns_answer.h"

#include <cctype>

namespace vellor::resolve {
namespace {

struct Reader {
    const std::string &m;
    std::size_t at = 0;
    bool ok = true;

    unsigned byte(std::size_t i) const { return i < m.size() ? static_cast<unsigned char>(m[i]) : 0; }
    unsigned u16() {
        if (at + 2 > m.size()) return ok = false, 0;
        unsigned v = (byte(at) << 8) | byte(at + 1);
        at += 2;
        return v;
    }
    // The name at the reading position, lower case, through at most 64
    // pointers; the position moves past the name as written there.
    std::string name() {
        std::string out;
        std::size_t pos = at, after = 0;
        for (int jumps = 0; ok;) {
            unsigned len = byte(pos);
            if (pos >= m.size()) return ok = false, "";
            if ((len & 0xc0) == 0xc0) {
                if (++jumps > 64) return ok = false, "";
                if (!after) after = pos + 2;
                pos = ((len & 0x3f) << 8) | byte(pos + 1);
                continue;
            }
            if (len == 0) break;
            if (len > 63 || pos + 1 + len > m.size() || out.size() + len > 253) return ok = false, "";
            if (!out.empty()) out += '.';
            for (std::size_t i = pos + 1; i <= pos + len; ++i)
                out += static_cast<char>(std::tolower(static_cast<int>(byte(i))));
            pos += 1 + len;
        }
        at = after ? after : pos + 1;
        return out;
    }
};

// A record's data as the reader hands it over; `end` is where it stops.
std::string record_data(Reader &r, uint16_t type, std::size_t end) {
    if (type == kTypeMx) {
        r.u16();
        return r.name();
    }
    if (type == 5) return r.name();  // CNAME
    if (type != kTypeTxt) return r.m.substr(r.at, end - r.at);
    std::string text;
    while (r.at < end) {
        std::size_t len = r.byte(r.at);
        if (r.at + 1 + len > end) return r.ok = false, "";
        text.append(r.m, r.at + 1, len);
        r.at += 1 + len;
    }
    return text;
}

}  // namespace

DnsAnswer read_dns_answer(const std::string &packet, uint16_t type) {
    DnsAnswer a;
    Reader r{packet};
    r.u16();
    unsigned flags = r.u16(), questions = r.u16(), answers = r.u16();
    r.at += 4;
    if (!r.ok || !(flags & 0x8000) || r.at > packet.size()) return a;
    a.rcode = static_cast<int>(flags & 0x0f);
    a.authentic = (flags & 0x0020) != 0;
    for (unsigned i = 0; i < questions && r.ok; ++i) {
        r.name();
        r.at += 4;
    }
    for (unsigned i = 0; i < answers && r.ok; ++i) {
        r.name();
        unsigned rtype = r.u16();
        r.at += 6;  // class, TTL
        std::size_t length = r.u16(), end = r.at + length;
        if (!r.ok || end > packet.size()) return a;
        if (rtype == type) a.records.push_back(record_data(r, type, end));
        if (r.at > end) return a;
        r.at = end;
    }
    a.ok = r.ok;
    if (!a.ok) a.records.clear();
    return a;
}

}  // namespace vellor::resolve
