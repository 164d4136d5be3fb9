// The message of one transaction as the delivery hands it over: its file,
// envelope and server. The delivery (submit/) opens message files, claims
// them against other senders, reads them ahead and removes them, and walks
// its recipients and servers; the session reads only the message it is
// handed (never the request record, whose file, sender, recipient and
// server fields are the caller's and show the message in hand; the
// record's message block comes here as `block`), and says whether the
// server accepted.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "dkim/field.h"
#include "transport/tls_session.h"
#include "vellorapi.h"

namespace vellor::smtp {

// A message file up to this size is read whole once and sent from memory
// (with room for the end-of-data line after it); a larger one is streamed in
// blocks as it is sent.
constexpr uint64_t kKeptWhole = uint64_t{64} * 1024;
constexpr std::size_t kEndRoom = 5;  // "\r\n.\r\n"

enum class FileState {
    Ready,       // open and claimed
    Missing,     // no such file
    Unreadable,  // not a regular file that can be read (a queue entry: nor a link)
    Claimed,     // another sender holds it
};

// What the check of a message's text found (smtp/body_check.h).
struct CheckedText {
    static constexpr uint64_t kNone = UINT64_MAX;
    uint64_t nul_at = kNone;       // the offset of the first NUL byte
    uint64_t lone_dot_at = kNone;  // the offset of the "." of the first line of a single "."
    bool eight_bit = false;
    bool signing = false;    // the send signs: the field below, or why not
    dkim::Field dkim_field;  // the DKIM-Signature field; empty with dkim_why
    std::string dkim_why;
};

struct MessageSource {
    // The caller's message in global memory (the request's hMessage), sent
    // in place instead of any file; null without one.
    HGLOBAL block = nullptr;
    // The file is an entry a directory pass found (the request named a
    // message directory): its open checked it, and reports name it so.
    bool queued = false;
    FileState state = FileState::Missing;
    // Ready: reads the open file (the delivery's, which closes it): up to n
    // bytes at an offset into buf, their count, 0 at its end, < 0 on an error.
    std::function<int64_t(char *buf, std::size_t n, uint64_t at)> read_at;
    uint64_t size = 0;
    // The whole text when it was read ahead (has_text): a text read ahead is
    // handed over only when its file was found current() at its turn.
    std::string text;
    bool has_text = false;
    std::optional<CheckedText> checked;  // the text's check, when made as it was read ahead
    // Still the very file, at the very version, that was opened: asked just
    // before MAIL FROM, so that a message withdrawn or replaced by then is
    // not sent.
    std::function<bool()> current;
};

// The TLS an exchanger gets under SecureConnection 4, as the delivery chose
// it before connecting (submit/exchanger_security.h).
struct Protection {
    enum class Kind {
        Opportunistic,  // as SecureConnection 3
        Dane,           // STARTTLS required, the certificate matching a TLSA record
        DaneTlsOnly,    // secure TLSA records, none usable: STARTTLS required, not authenticated
        StsEnforce,     // MTA-STS enforce: STARTTLS required, a certificate valid for the exchanger's name
        StsTesting,     // MTA-STS testing: as StsEnforce, but a failed check is reported and the message goes
    };
    Kind kind = Kind::Opportunistic;
    std::string exchanger;              // the exchanger's name, which the certificate is checked against
    std::string domain;                 // the recipient's domain (MTA-STS reports name it)
    std::vector<transport::Tlsa> tlsa;  // Dane: the usable records
    bool required() const { return kind == Kind::Dane || kind == Kind::DaneTlsOnly || kind == Kind::StsEnforce; }
};

// One transaction's message.
struct Message {
    std::string file;       // the message file's name as the request gives it ("" without one)
    std::string sender;     // MAIL FROM
    std::string recipient;  // the single recipient, or the one in hand
    std::string server;     // the server's name (by MX the recipient's domain)
    std::string server_ip;  // its address, when known
    int attempt = 1;        // the "[n]" of the transaction's reports
    Protection protection;  // SecureConnection 4: the TLS the exchanger in hand gets
    MessageSource source;   // the file
};

}  // namespace vellor::smtp
