// DNS query building and answer reading; see dns_message.h. Names in an
// answer may point back into the message (compression); at most 128 jumps
// are followed, so a looping pointer ends the reading. A name is read only
// when its text says exactly what its labels say, so no host name is ever
// cut or changed on its way into a record: a label holding a '.' or a NUL,
// a name over 253 characters, or record data running past the record's own
// length make the answer malformed.
#include "korvex/dns_message.h"

namespace korvex::dns {
namespace {

void put16(std::string &s, unsigned v) {
    s += static_cast<char>((v >> 8) & 0xff);
    s += static_cast<char>(v & 0xff);
}

constexpr std::size_t kMaxName = 253;  // characters of a name's text (255 octets as sent)

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
    // Appends the label at `from` to the name's text; false when the label
    // holds a '.' or a NUL, or the name grows past kMaxName.
    bool append_label(std::string &out, std::size_t from, unsigned len) const {
        if (!out.empty()) out += '.';
        std::size_t start = out.size();
        out.append(m, from, len);
        return out.size() <= kMaxName && out.find_first_of(std::string(".\0", 2), start) == std::string::npos;
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
            if (!append_label(out, pos + 1, len)) return ok = false, "";
            pos += 1 + len;
        }
        return "";
    }
};

// One answer record; one of `type` goes into records. False when the record
// is malformed.
bool read_record(Reader &r, uint16_t type, std::vector<MxHost> &records) {
    r.name();
    unsigned rtype = r.u16();
    r.u16();
    r.at += 4;  // TTL
    std::size_t length = r.u16(), end = r.at + length;
    if (!r.ok || end > r.m.size()) return false;
    if (rtype == type) {
        int preference = type == 15 ? static_cast<int>(r.u16()) : 0;
        records.push_back({r.name(), preference});
    }
    if (r.at > end) return false;  // the data ran on past the record's length
    r.at = end;
    return r.ok;
}

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

std::string dnssec_query(uint16_t id, const std::string &name, uint16_t type) {
    std::string q = query(id, name, type);
    if (q.empty()) return q;
    q[3] = static_cast<char>(q[3] | 0x20);  // AD
    q[11] = 1;                              // one additional record: the OPT below
    q += '\0';                              // the root name
    put16(q, 41);                           // OPT
    put16(q, 1232);                         // the UDP payload size taken
    put16(q, 0);                            // extended code and version
    put16(q, 0x8000);                       // DO
    put16(q, 0);                            // no options
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
    for (unsigned i = 0; i < answers && r.ok; ++i) r.ok = read_record(r, type, records);
    if (!r.ok) {
        records.clear();  // nothing of a malformed answer is used
        return Lookup::Failed;
    }
    return records.empty() ? Lookup::NoData : Lookup::Found;
}

}  // namespace korvex::dns
