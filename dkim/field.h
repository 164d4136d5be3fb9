// A message's DKIM-Signature field whose signature is made late: its size is
// known at once (the SIZE check and MAIL FROM's SIZE= come before the
// envelope), its text is made when the transaction has sent its first
// envelope command and would otherwise only wait for the reply, so the
// signature's processor time hides in that round trip. Copies share the one
// field, made at most once. Relies on the standard library only.
#pragma once
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vellor::dkim {

struct MadeField {
    std::string text;  // the whole field, ending with CR LF; empty with the reason
    std::string why;
};

class Field {
public:
    Field() = default;
    Field(std::size_t size, std::function<MadeField()> make);
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    // Makes the signature now, when not made yet.
    void make();
    // The field's text, made first when needed; null with the reason when
    // the key could not sign or the signature's length is not the one told.
    const std::string *text(std::string &why);

private:
    struct State {
        std::function<MadeField()> make;
        std::optional<MadeField> made;
    };
    std::size_t size_ = 0;
    std::shared_ptr<State> state_;
};

}  // namespace vellor::dkim
