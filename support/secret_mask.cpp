// Masking, then cutting; see secret_mask.h.
#include "support/secret_mask.h"

#include <algorithm>

namespace vellor {

void Secrets::add(const std::string &secret) {
    if (secret.size() < 4 || std::find(list_.begin(), list_.end(), secret) != list_.end()) return;
    list_.push_back(secret);
    longest_ = std::max(longest_, secret.size());
    // The longer first: a secret holding another is masked whole.
    std::sort(list_.begin(), list_.end(),
              [](const std::string &a, const std::string &b) { return a.size() > b.size(); });
}

std::string Secrets::shown(std::string text, std::size_t most) const {
    for (const std::string &secret : list_)
        for (std::size_t at = 0; (at = text.find(secret, at)) != std::string::npos; at += 4)
            text.replace(at, secret.size(), "****");
    if (text.size() > most) text.resize(most);
    return text;
}

}  // namespace vellor
