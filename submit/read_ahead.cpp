// Reading a queue pass's next message ahead of its turn (see read_ahead.h).
#include "submit/read_ahead.h"

#include "smtp/body_check.h"

namespace vellor {

void ReadAhead::name(const std::string &path, bool claim) {
    next_.assign(path);  // the string's room is reused from message to message
    claim_ = claim;
    tried_ = false;
}

void ReadAhead::clear() {
    name({}, false);
    path_.clear();
    file_.close();
}

void ReadAhead::fill(const dkim::Signer *signer) {
    if (next_.empty() || tried_) return;
    tried_ = true;
    path_ = next_;
    if (file_.open(path_, true, claim_) != smtp::FileState::Ready) {
        file_.close();
        return;
    }
    file_.read_whole();
    if (file_.has_text) file_.checked = smtp::check_text(file_.text.data(), file_.text.size(), signer);
}

bool ReadAhead::take(const std::string &path, MessageFile &file) {
    bool usable = path == path_ && file_.current();  // unchanged since it was read
    if (usable)
        file = std::move(file_);
    else
        file_.close();
    return usable;
}

}  // namespace vellor
