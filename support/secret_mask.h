// The credentials of one send (its password, its token, the login lines
// made from them) and the one way a text that may quote them is made fit to
// show: every secret replaced by "****" first, and only then the text cut to
// the size its reader keeps. Every path that shows server or send text goes
// through shown(): the SMTP dialogue (transcript), the reply texts the
// reports are made from, the log lines and status reports of the send, and
// so the tool's output. Relies on nothing but the standard library.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace vellor {

class Secrets {
public:
    // Takes a credential; one under 4 characters is not taken (it would
    // mask ordinary words).
    void add(const std::string &secret);
    // The longest credential taken (0: none): a text cut later than this
    // many bytes past its end still holds any secret that began before it.
    std::size_t longest() const { return longest_; }
    // The text with every credential replaced by "****", then cut to at
    // most `most` bytes.
    std::string shown(std::string text, std::size_t most = std::string::npos) const;

private:
    std::vector<std::string> list_;
    std::size_t longest_ = 0;
};

}  // namespace vellor
