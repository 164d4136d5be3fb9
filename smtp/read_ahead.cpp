// Reading a queue pass's next message ahead of its turn (see read_ahead.h).
#include "smtp/read_ahead.h"

#include "platform/files.h"

namespace vellor::smtp {

void ReadAhead::name(std::string_view dir, std::string_view file) {
    if (file.empty())
        next_.clear();
    else
        next_.assign(dir).append(file);  // the string's room is reused from message to message
    tried_ = false;
}

void ReadAhead::clear() {
    name({}, {});
    path_.clear();
    text_.clear();
    kept_ = false;
}

void ReadAhead::fill() {
    if (next_.empty() || tried_) return;
    tried_ = true;
    path_ = next_;
    kept_ = false;
    int64_t size = 0;
    int fd = files::open_regular(path_, true, size);
    if (fd < 0) return;
    read_at_ = std::chrono::steady_clock::now();
    if (static_cast<uint64_t>(size) <= kKeptWhole) {
        // One byte more than the size: a file that grew meanwhile is not kept.
        text_.reserve(static_cast<std::size_t>(size) + kEndRoom);
        text_.resize(static_cast<std::size_t>(size) + 1);
        kept_ = files::read_at(fd, text_.data(), text_.size(), 0) == size;
        text_.resize(kept_ ? static_cast<std::size_t>(size) : 0);
    }
    files::close(fd);
}

bool ReadAhead::take(std::string_view path, std::string &text) {
    bool fresh = std::chrono::steady_clock::now() - read_at_ <= kFresh;
    bool usable = kept_ && path == path_ && fresh;
    kept_ = false;
    if (usable) text = std::move(text_);
    return usable;
}

}  // namespace vellor::smtp
