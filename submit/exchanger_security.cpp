// The TLS of each exchanger under SecureConnection 4; see
// exchanger_security.h.
#include "submit/exchanger_security.h"

#include "resolve/dane_lookup.h"
#include "support/text.h"
#include "support/report_texts.h"

namespace vellor {

using Kind = smtp::Protection::Kind;

ExchangerSecurity::ExchangerSecurity(Delivery &c, std::string domain, std::vector<std::string> classic)
    : domain_(std::move(domain)), classic_(std::move(classic)), opts_(c.message_options()) {
    active_ = opts_.secure_connection == 4 && !domain_.empty();
    trusted_ = opts_.dnssec_trusted == 1;
}

const sts::Policy *ExchangerSecurity::policy(Delivery &c) {
    if (!policy_read_) policy_ = sts::policy_for(c, domain_, opts_);
    policy_read_ = true;
    return policy_ ? &*policy_ : nullptr;
}

bool ExchangerSecurity::arm(Delivery &c, std::size_t k, const resolve::Attempt &attempt) {
    const std::string exchanger = !attempt.host.empty() ? attempt.host : k < classic_.size() ? classic_[k] : "";
    return arm(c, exchanger, resolve::families_of(attempt.addresses));
}

bool ExchangerSecurity::arm(Delivery &c, const std::string &exchanger, int families) {
    smtp::Protection &p = c.hand.protection;
    p = smtp::Protection{};
    if (!active_) return true;
    p.exchanger = exchanger;
    p.domain = domain_;
    resolve::DaneLookup dane;
    c.aside([&] { dane = resolve::dane_lookup(domain_, exchanger, families, trusted_); });
    if (dane.kind == resolve::DaneLookup::Kind::Failed) {
        c.protection_refused = true;
        c.report(Where::both, 920, 907, format(texts::kDanePassedOver, exchanger.c_str(), dane.why.c_str()));
        return false;
    }
    // Only unusable records ask for TLS without authentication: an enforce
    // MTA-STS policy asks for more and applies instead.
    auto enforced = [&] {
        const sts::Policy *s = policy(c);
        return s && s->mode == sts::Mode::Enforce;
    };
    if (dane.kind == resolve::DaneLookup::Kind::Usable ||
        (dane.kind != resolve::DaneLookup::Kind::None && !enforced())) {
        p.kind = dane.kind == resolve::DaneLookup::Kind::Usable ? Kind::Dane : Kind::DaneTlsOnly;
        p.tlsa = std::move(dane.records);
        c.report(Where::both, 921, 0,
                 format(texts::kDaneRequired, exchanger.c_str(),
                        p.kind == Kind::Dane ? texts::kDaneUsable : texts::kDaneOnlyUnusable));
        return true;
    }
    const sts::Policy *sts = policy(c);
    if (!sts || sts->mode == sts::Mode::None) return true;  // opportunistic TLS
    bool named = sts::mx_matches(*sts, exchanger);
    if (sts->mode == sts::Mode::Enforce && !named) {
        c.protection_refused = true;
        c.report(Where::both, 920, 907, format(texts::kStsPassedOver, exchanger.c_str(), domain_.c_str()));
        return false;
    }
    p.kind = sts->mode == sts::Mode::Enforce ? Kind::StsEnforce : Kind::StsTesting;
    if (!named) c.report(Where::both, 921, 0, format(texts::kStsTestingNotNamed, exchanger.c_str(), domain_.c_str()));
    return true;
}

}  // namespace vellor
