// The DKIM options' values to a signer, and one message's DKIM-Signature field.
#include "dkim/signer.h"

#include "support/report_texts.h"
#include "support/text.h"

namespace vellor::dkim {

std::shared_ptr<const Signer> signer_of(const std::string &domain, const std::string &selector,
                                        const std::string &key_file, std::string &why) {
    why.clear();
    if (domain.empty() && selector.empty() && key_file.empty()) return nullptr;
    if (domain.empty() || selector.empty() || key_file.empty()) {
        why = fill(texts::kDkimNeeds, {domain.empty()     ? "DKIMDomain"
                                       : selector.empty() ? "DKIMSelector"
                                                          : "DKIMKeyFile"});
        return nullptr;
    }
    if (!tag_value_ok(domain) || !tag_value_ok(selector)) {
        why = fill(texts::kDkimTagChars, {domain, selector});
        return nullptr;
    }
    std::string reason;
    auto key = SigningKey::load(key_file, reason);
    if (!key) {
        why = fill(texts::kDkimKeyUnusable, {key_file, reason});
        return nullptr;
    }
    return std::make_shared<const Signer>(Signer{key, domain, selector});
}

void BodySigning::feed(const char *text, std::size_t n) {
    feed_.begin_block(text, n);
    canon_.feed(text, n);
    feed_.end_block();
}

Field BodySigning::field(long long now, std::string &why) {
    canon_.finish();
    feed_.finish();
    if (canon_.header_too_long()) {
        why = texts::kDkimHeaderTooLarge;
        return {};
    }
    std::array<unsigned char, 32> bh = hash_.finish();
    SignedFields f = signed_fields(canon_.header());
    SignatureParts p{signer_.key->algorithm(), signer_.domain, signer_.selector, now, base64(bh.data(), bh.size())};
    std::string head = signature_field(p, f);
    std::size_t size = signed_field_size(head.size(), signer_.key->signature_chars());
    std::function<MadeField()> make = [key = signer_.key, input = signing_input(f, head), head]() {
        MadeField made;
        std::string b = key->sign(input, made.why);
        if (!b.empty()) made.text = signed_field(head, b);
        return made;
    };
    return Field(size, std::move(make));
}

}  // namespace vellor::dkim
