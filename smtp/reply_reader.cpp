// The reply assembler over a growing byte string.
#include "smtp/reply_reader.h"

#include <cctype>

namespace vellor::smtp {

bool continues(std::string_view line) {
    if (line.size() < 4 || line[3] != '-') return false;
    for (int i = 0; i < 3; ++i)
        if (!std::isdigit(static_cast<unsigned char>(line[i]))) return false;
    return true;
}

// The line is a view into the held bytes: nothing is copied but what is kept.
void ReplyReader::keep(std::string_view line) {
    if (text_.size() < kKept + margin_) text_.append(line.substr(0, kKept + margin_ - text_.size()));
    if (full_.size() < kFull + margin_) full_.append(line.substr(0, kFull + margin_ - full_.size()));
    length_ += line.size();
}

constexpr std::size_t kLongLine = 1024;

bool ReplyReader::take_reply() {
    while (!complete_) {
        std::size_t nl = pending_.find('\n');
        if (nl == std::string::npos) {
            if (pending_.size() > kLongLine) {  // hold only the line's start
                if (long_head_.empty()) long_head_ = pending_.substr(0, kHead);
                keep(pending_);
                pending_.clear();
            }
            return false;
        }
        std::string_view line(pending_.data(), nl + 1);
        keep(line);
        std::string_view line_head = long_head_.empty() ? line.substr(0, kHead) : std::string_view(long_head_);
        if (!continues(line_head)) {
            last_head_ = line_head;
            complete_ = true;
        }
        pending_.erase(0, nl + 1);
        long_head_.clear();
    }
    return true;
}

bool ReplyReader::feed(const char *data, std::size_t n) {
    pending_.append(data, n);
    return take_reply();
}

void ReplyReader::next() {
    text_.clear();
    full_.clear();
    last_head_.clear();
    length_ = 0;
    complete_ = false;
}

void ReplyReader::clear() {
    next();
    pending_.clear();
    long_head_.clear();
}

}  // namespace vellor::smtp
