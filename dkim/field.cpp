// The late-made DKIM-Signature field (see field.h).
#include "dkim/field.h"

#include <exception>
#include <utility>

#include "support/report_texts.h"
#include "support/text.h"

namespace vellor::dkim {

Field::Field(std::size_t size, std::function<MadeField()> make)
    : size_(size), state_(std::make_shared<State>(State{std::move(make), std::nullopt})) {}

void Field::make() {
    if (!state_ || state_->made) return;
    MadeField got;
    try {
        got = state_->make();
    } catch (const std::exception &e) {
        got = MadeField{{}, fill(texts::kSignatureNotMade, {e.what()})};
    }
    if (got.why.empty() && got.text.size() != size_) got = MadeField{{}, texts::kSignatureLength};
    state_->made = std::move(got);
}

const std::string *Field::text(std::string &why) {
    make();
    if (!state_) return nullptr;
    why = state_->made->why;
    return state_->made->text.empty() ? nullptr : &state_->made->text;
}

}  // namespace vellor::dkim
