// Opening, claiming, version checks and removal of a message file (see
// message_file.h).
#include "submit/message_file.h"

#include "submit/transaction_envelope.h"
#include "support/report_texts.h"

#include <utility>

namespace vellor {

const char *left_report(FileLeft why) {
    return why == FileLeft::Refused ? texts::kLeftNotRemoved : texts::kLeftChanged;
}

MessageFile::MessageFile(MessageFile &&other) noexcept { *this = std::move(other); }

MessageFile &MessageFile::operator=(MessageFile &&other) noexcept {
    if (this == &other) return *this;
    close();
    state_ = other.state_;
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
    stamp_ = other.stamp_;
    text = std::move(other.text);
    has_text = std::exchange(other.has_text, false);
    checked = std::exchange(other.checked, std::nullopt);
    other.state_ = smtp::FileState::Missing;
    return *this;
}

smtp::FileState MessageFile::open(const std::string &path, bool queued, bool claim) {
    close();
    fd_ = files::open_regular(path, queued, stamp_, &path_);
    if (fd_ < 0) return state_ = files::exists(path) ? smtp::FileState::Unreadable : smtp::FileState::Missing;
    // A claim holds only while the name still stands for the file locked;
    // unclaimed, the checks before the envelope and before removal see it.
    files::Stamp at;
    if (claim && (!files::try_lock(fd_) || !files::stamp_at(path_, at) || !at.same_file(stamp_))) {
        close();
        return state_ = smtp::FileState::Claimed;
    }
    return state_ = smtp::FileState::Ready;
}

void MessageFile::read_whole() {
    if (state_ != smtp::FileState::Ready || stamp_.size < 0 || static_cast<uint64_t>(stamp_.size) > smtp::kKeptWhole)
        return;
    // One byte more than the size: a file that grew meanwhile is not kept.
    std::size_t size = static_cast<std::size_t>(stamp_.size);
    text.reserve(size + smtp::kEndRoom);
    text.resize(size + 1);
    has_text = files::read_at(fd_, text.data(), text.size(), 0) == stamp_.size;
    text.resize(has_text ? size : 0);
}

// The name's entry with the stamp the open file had: the same file (device
// and inode) in the same version, so the open file is unchanged too.
bool MessageFile::current() const {
    files::Stamp at;
    return state_ == smtp::FileState::Ready && files::stamp_at(path_, at) && at == stamp_;
}

bool MessageFile::remove() { return current() && files::remove_exact(path_); }

void MessageFile::close() {
    files::close(fd_);
    fd_ = -1;
    state_ = smtp::FileState::Missing;
    text.clear();
    has_text = false;
    checked.reset();
}

Handover::Handover(Delivery &c, MessageFile &file, bool conversation)
    : envelope_(envelope_for(c, conversation)),
      message_(c.hand),
      options_(c.message_options()),
      handoff_{message_, envelope_, options_, c.dkim.get()} {
    smtp::MessageSource &source = message_.source;
    source.state = file.state();
    source.read_at = [fd = file.fd()](char *buf, std::size_t n, uint64_t at) {
        return files::read_at(fd, buf, n, static_cast<int64_t>(at));
    };
    source.size = file.stamp().size < 0 ? 0 : static_cast<uint64_t>(file.stamp().size);
    if (file.has_text) {
        source.text = std::move(file.text);
        source.has_text = true;
        file.has_text = false;
        source.checked = std::exchange(file.checked, std::nullopt);
    }
    source.current = [&file] { return file.current(); };
}

}  // namespace vellor
