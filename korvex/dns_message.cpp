// DNS query building and answer reading; see dns_message.h. Names in an
// answer may point back into the message (compression); at most 128 jumps
// are followed, so a looping pointer ends the reading.
#include "korvex/dns_message.h"

namespace korvex::dns {
namespace {

void put16(std::string &s, unsigned v) {
    s += static_cast<char>((v >> 8) & 0xff);
    s += static_cast<char>(v & 0xff);
}

struct Reader {
    const std::string &m;
    std::size_t at = 0;
    bool ok = true;

    unsigned byte(std::size_t i) const { return static_cast<unsigned char>(m[i]); }
    unsigned u16() {
        if (at + 2 > m.size()) return ok = false, 0;
        unsigned v = (byte(at) << 8) | byte(at + 1);
        at += 2;
        return v;
    }
    // A name at the reading position (followed through pointers); the
    // position moves past the name as written there.
    std::string name() {
        std::string out;
        std::size_t pos = at, after = 0;
        for (int jumps = 0; ok;) {
            if (pos >= m.size()) return ok = false, "";
            unsigned len = byte(pos);
            if ((len & 0xc0) == 0xc0) {
                if (pos + 1 >= m.size() || ++jumps > 128) return ok = false, "";
                if (!after) after = pos + 2;
                pos = ((len & 0x3f) << 8) | byte(pos + 1);
                continue;
            }
            if (len == 0) {
                at = after ? after : pos + 1;
                return out;
            }
            if (len > 63 || pos + 1 + len > m.size()) return ok = false, "";
            if (!out.empty()) out += '.';
            out.append(m, pos + 1, len);
            pos += 1 + len;
        }
        return "";
    }
};

}  // namespace

std::string query(uint16_t id, const std::string &name, uint16_t type) {
    std::string q;
    put16(q, id);
    put16(q, 0x0100);  // recursion desired
    put16(q, 1);
    put16(q, 0);
    put16(q, 0);
    put16(q, 0);
    std::size_t start = 0;
    std::string trimmed = !name.empty() && name.back() == '.' ? name.substr(0, name.size() - 1) : name;
    if (trimmed.empty() || trimmed.size() > 253) return "";
    while (start <= trimmed.size()) {
        std::size_t dot = trimmed.find('.', start);
        std::size_t len = (dot == std::string::npos ? trimmed.size() : dot) - start;
        if (len == 0 || len > 63) return "";
        q += static_cast<char>(len);
        q.append(trimmed, start, len);
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    q += '\0';
    put16(q, type);
    put16(q, 1);  // class IN
    return q;
}

Lookup read_answer(const std::string &packet, uint16_t id, uint16_t type, std::vector<MxHost> &records) {
    Reader r{packet};
    if (r.u16() != id) return Lookup::Failed;
    unsigned flags = r.u16(), questions = r.u16(), answers = r.u16();
    r.u16();
    r.u16();
    if (!r.ok || !(flags & 0x8000)) return Lookup::Failed;
    unsigned rcode = flags & 0x0f;
    if (rcode == 3) return Lookup::NoDomain;
    if (rcode == 2 || rcode == 5) return Lookup::ServerFailed;
    if (rcode != 0) return Lookup::Failed;
    for (unsigned i = 0; i < questions && r.ok; ++i) {
        r.name();
        r.at += 4;
    }
    for (unsigned i = 0; i < answers && r.ok; ++i) {
        r.name();
        unsigned rtype = r.u16();
        r.u16();
        r.at += 4;  // TTL
        std::size_t length = r.u16(), end = r.at + length;
        if (!r.ok || end > packet.size()) return Lookup::Failed;
        if (rtype == type && type == 15) {
            int preference = static_cast<int>(r.u16());
            records.push_back({r.name(), preference});
        } else if (rtype == type) {
            records.push_back({r.name(), 0});
        }
        r.at = end;
    }
    if (!r.ok) {
        records.clear();  // nothing of a malformed answer is used
        return Lookup::Failed;
    }
    return records.empty() ? Lookup::NoData : Lookup::Found;
}

}  // namespace korvex::dns
