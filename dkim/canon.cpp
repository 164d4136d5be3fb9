// The relaxed canonicalisation and the DKIM-Signature field's text.
#include "dkim/canon.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vellor::dkim {
namespace {

bool blank(char c) { return c == ' ' || c == '\t'; }

// A byte that may continue a run of ordinary text: anything but a space,
// tab, CR or LF.
bool ordinary(unsigned char c) { return c > ' ' || (c != ' ' && c != '\t' && c != '\r' && c != '\n'); }

// Whether any of the 8 bytes at p is below '!' (a space, tab, CR, LF or
// control byte); bytes of 8 bits never count.
bool has_low(const char *p) {
    uint64_t x;
    std::memcpy(&x, p, 8);
    return ((x - 0x2121212121212121ULL) & ~x & 0x8080808080808080ULL) != 0;
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

std::string_view trim_blank(std::string_view s) {
    while (!s.empty() && (blank(s.front()) || s.front() == '\r' || s.front() == '\n')) s.remove_prefix(1);
    while (!s.empty() && (blank(s.back()) || s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
    return s;
}

// Where the spaces, tabs, CRs and LFs are among 64 bytes (bit k: byte k).
struct Marks {
    uint64_t sp = 0, tab = 0, cr = 0, lf = 0;
};

Marks marks_of_bytes(const char *p, std::size_t n) {
    Marks m;
    for (std::size_t k = 0; k < n; ++k) {
        uint64_t bit = uint64_t{1} << k;
        if (p[k] == ' ') m.sp |= bit;
        if (p[k] == '\t') m.tab |= bit;
        if (p[k] == '\r') m.cr |= bit;
        if (p[k] == '\n') m.lf |= bit;
    }
    return m;
}

#if defined(__SSE2__)
Marks marks_of(const char *p, std::size_t n) {
    if (n < 64) return marks_of_bytes(p, n);
    Marks m;
    for (std::size_t q = 0; q < 4; ++q) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 * q));
        auto bits = [&v, q](char c) {
            unsigned b = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(c))));
            return static_cast<uint64_t>(b) << (16 * q);
        };
        m.sp |= bits(' ');
        m.tab |= bits('\t');
        m.cr |= bits('\r');
        m.lf |= bits('\n');
    }
    return m;
}
#else
Marks marks_of(const char *p, std::size_t n) { return marks_of_bytes(p, n); }
#endif

}  // namespace

// The longest start of the text made of whole lines that relaxed
// canonicalisation leaves as they are: each ends with CR LF and holds
// content, no tab, no CR of its own, no space before a space, tab or line
// end. The text begins a line.
std::size_t RelaxedBody::unchanged_lines(const char *p, std::size_t n) {
    uint64_t sp_before = 0, cr_before = 0, lf_before = 1;  // the byte before the 64: a line begins here
    std::size_t end = 0;                                   // after the last LF of the lines found so far
    for (std::size_t k = 0; k < n; k += 64) {
        std::size_t len = std::min<std::size_t>(64, n - k);
        Marks m = marks_of(p + k, len);
        uint64_t after_sp = (m.sp << 1) | sp_before, after_cr = (m.cr << 1) | cr_before;
        uint64_t after_lf = (m.lf << 1) | lf_before;
        uint64_t any = m.sp | m.tab | m.cr | m.lf;
        // Bit k marks byte k as the first to need a change or to end an empty line.
        uint64_t odd = m.tab | (after_sp & any) | (m.lf & ~after_cr) | (after_cr & ~m.lf) | (m.cr & after_lf);
        if (len < 64) odd &= (uint64_t{1} << len) - 1;
        uint64_t lfs = odd ? m.lf & ((odd & -odd) - 1) : m.lf;  // the line ends before the first odd byte
        if (lfs) end = k + static_cast<std::size_t>(64 - __builtin_clzll(lfs));
        if (odd) break;
        sp_before = m.sp >> 63;
        cr_before = m.cr >> 63;
        lf_before = m.lf >> 63;
    }
    return end;
}

void RelaxedBody::feed(const char *p, std::size_t n) {
    for (std::size_t i = 0; i < n;) {
        if (!cr_ && !blank_ && !line_content_) {  // at a line's start: whole lines that need no change go as they are
            std::size_t same = unchanged_lines(p + i, n - i);
            if (same) {
                pass(p + i, same);
                i += same;
                continue;
            }
        }
        i += line(p + i, n - i);
    }
}

void RelaxedBody::pass(const char *text, std::size_t n) {
    for (; empty_lines_ > 0; --empty_lines_) put("\r\n", 2);
    flush();
    sink_.update(text, n);
}

std::size_t RelaxedBody::line(const char *p, std::size_t n) {
    for (std::size_t i = 0; i < n;) {
        char c = p[i];
        if (c == '\n') {
            cr_ = blank_ = false;
            if (line_content_)
                put("\r\n", 2);
            else
                ++empty_lines_;
            line_content_ = false;
            return i + 1;
        }
        if (cr_) {  // the CR before was not a line end's
            cr_ = false;
            content("\r", 1);
        }
        if (c == '\r' || blank(c)) {
            (c == '\r' ? cr_ : blank_) = true;
            ++i;
            continue;
        }
        std::size_t j = i + 1;  // a run of text, single spaces between words included
        while (j < n) {
            while (j + 8 <= n && !has_low(p + j)) j += 8;  // eight ordinary bytes at a time
            if (j >= n) break;
            unsigned char d = static_cast<unsigned char>(p[j]);
            if (ordinary(d))
                ++j;
            else if (d == ' ' && j + 1 < n && ordinary(static_cast<unsigned char>(p[j + 1])))
                j += 2;
            else
                break;
        }
        content(p + i, j - i);
        i = j;
    }
    return n;
}

void RelaxedBody::content(const char *text, std::size_t n) {
    for (; empty_lines_ > 0; --empty_lines_) put("\r\n", 2);
    if (blank_) put(" ", 1);
    blank_ = false;
    put(text, n);
    line_content_ = true;
}

void RelaxedBody::finish() {
    if (cr_) content("\r", 1);
    cr_ = false;
    if (line_content_) put("\r\n", 2);
    line_content_ = false;
    flush();
}

void RelaxedBody::put(const char *text, std::size_t n) {
    if (used_ + n > sizeof out_) flush();
    if (n >= sizeof out_ / 2) {
        sink_.update(text, n);
        return;
    }
    std::memcpy(out_ + used_, text, n);
    used_ += n;
}

void RelaxedBody::flush() {
    if (used_) sink_.update(out_, used_);
    used_ = 0;
}

void MessageCanon::feed(const char *p, std::size_t n) {
    std::size_t i = 0;
    while (i < n && !in_body_) {
        char c = p[i++];
        if (line_start_) {
            if (c == '\n') {  // the empty line: the body follows
                if (cr_at_start_ && !header_.empty()) header_.pop_back();
                in_body_ = true;
                break;
            }
            if (c == '\r' && !cr_at_start_) {
                cr_at_start_ = true;
            } else {
                line_start_ = cr_at_start_ = false;
            }
        }
        if (header_.size() < kHeaderLimit)
            header_ += c;
        else
            too_long_ = true;
        if (c == '\n') {
            line_start_ = true;
            cr_at_start_ = false;
        }
    }
    if (i < n) body_.feed(p + i, n - i);
}

std::vector<HeaderField> header_fields(std::string_view header) {
    std::vector<HeaderField> out;
    std::size_t start = std::string_view::npos;
    auto close = [&](std::size_t end) {
        if (start == std::string_view::npos) return;
        std::string_view text = header.substr(start, end - start);
        std::size_t colon = text.find(':');
        if (colon != std::string_view::npos) {
            std::string_view name = text.substr(0, colon);
            while (!name.empty() && blank(name.back())) name.remove_suffix(1);
            out.push_back({name, text});
        }
        start = std::string_view::npos;
    };
    for (std::size_t at = 0; at < header.size();) {
        std::size_t nl = header.find('\n', at);
        std::size_t next = nl == std::string_view::npos ? header.size() : nl + 1;
        if (!blank(header[at])) {
            close(at);
            start = at;
        }
        at = next;
    }
    close(header.size());
    return out;
}

std::string relaxed_field(std::string_view text) {
    std::size_t colon = text.find(':');
    std::string_view name = trim_blank(text.substr(0, colon));
    std::string_view value = trim_blank(text.substr(colon + 1));
    std::string out;
    out.reserve(text.size() + 2);
    for (char c : name) out += lower(c);
    out += ':';
    bool space = false;
    for (std::size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        // Unfolding removes the line ends of folds (CR LF, or a bare LF that
        // reaches the receiver as one); a CR not followed by LF is an
        // ordinary byte of the value (RFC 6376, 3.4.2).
        if (c == '\n' || (c == '\r' && i + 1 < value.size() && value[i + 1] == '\n')) continue;
        if (blank(c)) {
            space = true;
            continue;
        }
        if (space) out += ' ';
        space = false;
        out += c;
    }
    out += "\r\n";
    return out;
}

SignedFields signed_fields(std::string_view header) {
    static constexpr const char *kNames[] = {"from",       "to",           "cc",           "subject", "date",
                                             "message-id", "mime-version", "content-type", "reply-to"};
    std::vector<HeaderField> fields = header_fields(header);
    SignedFields f;
    auto name = [&f](const char *n) {
        if (!f.names.empty()) f.names += ':';
        f.names += n;
    };
    for (const char *n : kNames) {
        for (auto it = fields.rbegin(); it != fields.rend(); ++it) {
            if (!same_name(it->name, n)) continue;
            name(n);
            f.canonical += relaxed_field(it->text);
        }
        if (n == kNames[0]) name(n);  // From once more: it matches no field, so a From added later breaks the signature
    }
    return f;
}

std::string signature_field(const SignatureParts &p, const SignedFields &f) {
    std::string s = "DKIM-Signature: v=1; a=" + p.algorithm + "; c=relaxed/relaxed; d=" + p.domain +
                    "; s=" + p.selector + ";\r\n\tt=" + std::to_string(p.time) + "; h=";
    std::size_t line = 10;
    for (std::size_t at = 0; at < f.names.size();) {
        std::size_t colon = f.names.find(':', at);
        std::size_t end = colon == std::string::npos ? f.names.size() : colon + 1;
        if (line + (end - at) > 72) {
            s += "\r\n\t";
            line = 1;
        }
        s.append(f.names, at, end - at);
        line += end - at;
        at = end;
    }
    s += ";\r\n\tbh=" + p.body_hash + ";\r\n\tb=";
    return s;
}

std::string signing_input(const SignedFields &f, std::string_view field) {
    std::string out = f.canonical + relaxed_field(field);
    out.resize(out.size() - 2);  // without the last CR LF
    return out;
}

namespace {
constexpr std::size_t kSignatureLine = 72;  // Base64 characters of the signature on one line
}  // namespace

std::string signed_field(std::string_view field, std::string_view signature) {
    std::string out(field);
    for (std::size_t at = 0; at < signature.size(); at += kSignatureLine) {
        if (at) out += "\r\n\t";
        out.append(signature.substr(at, kSignatureLine));
    }
    out += "\r\n";
    return out;
}

std::size_t signed_field_size(std::size_t field_size, std::size_t signature_chars) {
    std::size_t folds = signature_chars ? (signature_chars - 1) / kSignatureLine : 0;
    return field_size + signature_chars + 3 * folds + 2;
}

bool tag_value_ok(std::string_view value) {
    if (value.empty()) return false;
    for (char c : value)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
              c == '_'))
            return false;
    return true;
}

}  // namespace vellor::dkim
