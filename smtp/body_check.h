// The reading that checks a message's text before it goes out, fed in
// pieces of any size: where its first NUL byte and its first line of a
// single "." are, whether it holds bytes of 8 bits, and, when the send
// signs, the DKIM body hash, taken in the same reading so that a file is
// read once for all of them. Judging and reporting are the transaction's
// (message_data.cpp); a queue pass checks the message it read ahead while
// the server works on the current one.
// Relies on smtp/message_text.h and dkim/signer.h.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "dkim/signer.h"
#include "smtp/message_source.h"
#include "smtp/message_text.h"

namespace vellor::smtp {

class TextCheck {
public:
    // With `background`, a signing check hands each piece's body hash to a
    // second thread and goes on (the caller with its next reading): a piece
    // must then stay unchanged until the next feed() or finish() returns.
    explicit TextCheck(const dkim::Signer *signer, bool background = false);
    // The next piece; false once a NUL byte was found (the rest need not come).
    bool feed(const char *text, std::size_t n);
    // After the last piece: the findings, the DKIM field signed at `now`
    // (when the text holds no NUL byte).
    CheckedText finish(long long now);

private:
    LoneDotFinder dots_;
    std::optional<dkim::BodySigning> sign_;
    CheckedText found_;
    uint64_t seen_ = 0;
};

// A whole text in memory, checked at once (signed now, when signing).
CheckedText check_text(const char *text, std::size_t n, const dkim::Signer *signer);

}  // namespace vellor::smtp
