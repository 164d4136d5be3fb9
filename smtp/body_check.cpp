// The check of a message's text in one reading (see body_check.h).
#include "smtp/body_check.h"

#include <cstring>
#include <ctime>

namespace vellor::smtp {

TextCheck::TextCheck(const dkim::Signer *signer, bool background) {
    found_.signing = signer != nullptr;
    if (!signer) return;
    sign_.emplace(*signer, background);
}

bool TextCheck::feed(const char *text, std::size_t n) {
    if (found_.nul_at != CheckedText::kNone) return false;
    if (const void *nul = std::memchr(text, '\0', n)) {
        found_.nul_at = seen_ + static_cast<uint64_t>(static_cast<const char *>(nul) - text);
        return false;
    }
    if (sign_) sign_->feed(text, n);
    dots_.feed(text, n);
    if (!found_.eight_bit) found_.eight_bit = holds_8bit(text, n);
    seen_ += n;
    return true;
}

CheckedText TextCheck::finish(long long now) {
    if (dots_.finish()) found_.lone_dot_at = dots_.offset();
    if (sign_ && found_.nul_at == CheckedText::kNone) found_.dkim_field = sign_->field(now, found_.dkim_why);
    return std::move(found_);
}

CheckedText check_text(const char *text, std::size_t n, const dkim::Signer *signer) {
    TextCheck check(signer);
    check.feed(text, n);
    return check.finish(static_cast<long long>(std::time(nullptr)));
}

}  // namespace vellor::smtp
