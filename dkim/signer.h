// DKIM signing of every message of a send: the signer made from the three
// options' values (DKIMDomain, DKIMSelector, DKIMKeyFile; the send reads
// them once and makes it before any connection); per message, the text fed to a BodySigning as the body
// check reads it, and the DKIM-Signature field made from the header section
// and the body hash (the message itself is never changed); the signature
// itself is made later, during the envelope's first round trip. Relies on
// dkim/canon.h (text), dkim/key.h (OpenSSL) and dkim/field.h.
#pragma once
#include <memory>
#include <string>

#include "dkim/body_hash_feed.h"
#include "dkim/canon.h"
#include "dkim/field.h"
#include "dkim/key.h"
#include "vellorapi.h"

namespace vellor::dkim {

// A key unusable, or the options set only in part: the send fails with this
// code before it connects.
constexpr int kKeyUnusable = VELLOR_ERR_DKIM_KEY;

struct Signer {
    std::shared_ptr<const SigningKey> key;
    std::string domain, selector;
};

// The signer of the options given: null without `why` when none is set, null
// with the reason when they are set in part or cannot be used.
std::shared_ptr<const Signer> signer_of(const std::string &domain, const std::string &selector,
                                        const std::string &key_file, std::string &why);

// One message: its text fed in order, then the field to send ahead of it.
class BodySigning {
public:
    // With `background`, the body is hashed on a second thread (see
    // body_hash_feed.h): a piece must stay unchanged until the next feed()
    // or field() returns.
    BodySigning(const Signer &s, bool background) : signer_(s), feed_(hash_, background), canon_(feed_) {}
    void feed(const char *text, std::size_t n);
    // The DKIM-Signature field, its signature to be made; empty with the
    // reason.
    Field field(long long now, std::string &why);

private:
    const Signer &signer_;
    Sha256 hash_;
    BodyHashFeed feed_;
    MessageCanon canon_;
};

}  // namespace vellor::dkim
