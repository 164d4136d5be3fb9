// DKIM's relaxed canonicalisation (RFC 6376, 3.4.2 and 3.4.4) over a
// message's text as it is stored, before any dot-stuffing, fed in pieces of
// any size: the header section is kept (it is short) and the body goes,
// canonicalised, to a byte sink (the body hash). Also the choice of the
// signed header fields and the DKIM-Signature text around its signature.
// Pure text work: no I/O, no cryptography, no clock.
//
// A line ends at LF, with or without a CR before it (a bare LF reaches a
// receiver as CR LF); a CR not followed by LF is an ordinary byte. Bytes of
// 8 bits are ordinary bytes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vellor::dkim {

struct ByteSink {
    virtual void update(const char *data, std::size_t n) = 0;

protected:
    ~ByteSink() = default;
};

// The body, relaxed: white space at line ends dropped, runs of spaces and
// tabs as one space, empty lines at the end dropped, CR LF after the last
// line. The canonical bytes go to the sink in blocks.
class RelaxedBody {
public:
    explicit RelaxedBody(ByteSink &sink) : sink_(sink) {}
    void feed(const char *text, std::size_t n);
    void finish();

private:
    static std::size_t unchanged_lines(const char *text, std::size_t n);
    void pass(const char *text, std::size_t n);         // whole unchanged lines, straight to the sink
    std::size_t line(const char *text, std::size_t n);  // up to the next line's start; the bytes taken
    void content(const char *text, std::size_t n);      // non-blank bytes of a line
    void put(const char *text, std::size_t n);
    void flush();

    ByteSink &sink_;
    std::size_t empty_lines_ = 0;  // held back: they count only before more content
    bool blank_ = false;           // spaces or tabs seen since the last content
    bool cr_ = false;              // a CR seen, its meaning known at the next byte
    bool line_content_ = false;
    std::size_t used_ = 0;
    char out_[16384];
};

// A whole message fed in pieces: the header section kept (up to its limit),
// the body relaxed into the sink.
class MessageCanon {
public:
    static constexpr std::size_t kHeaderLimit = std::size_t{1} << 20;
    explicit MessageCanon(ByteSink &body_sink) : body_(body_sink) {}
    void feed(const char *text, std::size_t n);
    void finish() { body_.finish(); }
    const std::string &header() const { return header_; }  // up to and without the empty line
    bool header_too_long() const { return too_long_; }

private:
    RelaxedBody body_;
    std::string header_;
    bool in_body_ = false, too_long_ = false;
    bool line_start_ = true, cr_at_start_ = false;
};

// One header field as stored: its name and its whole text (continuation
// lines and line ends included).
struct HeaderField {
    std::string_view name, text;
};
std::vector<HeaderField> header_fields(std::string_view header);
// "name:value\r\n", relaxed: the name in lower case, the value unfolded
// (a lone CR kept), runs of spaces and tabs as one space, none at either
// end.
std::string relaxed_field(std::string_view field_text);

// The fields signed: From, To, Cc, Subject, Date, Message-ID, MIME-Version,
// Content-Type and Reply-To, each where present (a name given as often as it
// occurs, chosen from the bottom up), From once more so that a From added
// later breaks the signature.
struct SignedFields {
    std::string names;      // the h= value
    std::string canonical;  // the signed fields, relaxed, in h= order
};
SignedFields signed_fields(std::string_view header);

struct SignatureParts {
    std::string algorithm;  // "rsa-sha256" or "ed25519-sha256"
    std::string domain, selector;
    long long time = 0;
    std::string body_hash;  // Base64
};
// The DKIM-Signature field up to its empty b= (folded, no line end).
std::string signature_field(const SignatureParts &p, const SignedFields &f);
// What the signature covers: the signed fields, then the DKIM-Signature
// field with its empty b=, relaxed, without its last line end.
std::string signing_input(const SignedFields &f, std::string_view signature_field);
// The field with its signature, ready to send ahead of the message.
std::string signed_field(std::string_view signature_field, std::string_view signature_base64);
// The size signed_field() gives for a signature of `signature_chars` Base64
// characters, known before the signature is made.
std::size_t signed_field_size(std::size_t field_size, std::size_t signature_chars);
// A d= or s= value holds only letters, digits, '.', '-' and '_'.
bool tag_value_ok(std::string_view value);

}  // namespace vellor::dkim
