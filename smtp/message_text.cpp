// Line checks and dot-stuffing over a message's bytes.
#include "smtp/message_text.h"

#include <cstring>

namespace vellor::smtp {

bool LoneDotFinder::feed(const char *text, std::size_t n) {
    for (std::size_t i = 0; i < n && !found_; ++i) {
        char c = text[i];
        switch (state_) {
            case Inside: {  // on to the next line that begins with "."
                const char *end = text + n;
                for (const char *p = text + i;;) {
                    const char *nl = static_cast<const char *>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
                    if (!nl || nl + 1 == end) {
                        state_ = nl ? LineStart : Inside;
                        i = n;
                        break;
                    }
                    if (nl[1] == '.') {
                        i = static_cast<std::size_t>(nl + 1 - text);
                        state_ = Dot;
                        dot_at_ = seen_ + i;
                        break;
                    }
                    p = nl + 1;
                }
                break;
            }
            case LineStart:
                if (c == '.') {
                    state_ = Dot;
                    dot_at_ = seen_ + i;
                } else if (c != '\n') {
                    state_ = Inside;
                }
                break;
            case Dot:
                if (c == '\n')
                    found_ = true;
                else
                    state_ = c == '\r' ? DotCr : Inside;
                break;
            case DotCr:
                if (c == '\n')
                    found_ = true;
                else
                    state_ = Inside;
                break;
        }
    }
    seen_ += n;
    return found_;
}

bool LoneDotFinder::finish() {
    if (state_ == Dot) found_ = true;
    return found_;
}

bool holds_8bit(const char *text, std::size_t n) {
    unsigned char any = 0;
    for (std::size_t i = 0; i < n; ++i) any |= static_cast<unsigned char>(text[i]);  // vectorised: no early exit
    return (any & 0x80) != 0;
}

void dot_stuff(const char *text, std::size_t n, bool &line_start, std::string &out) {
    out.clear();
    out.reserve(n + n / 64 + 1);
    std::size_t i = 0;
    while (i < n) {
        if (line_start && text[i] == '.') out += '.';
        const void *nl = std::memchr(text + i, '\n', n - i);
        std::size_t end = nl ? static_cast<std::size_t>(static_cast<const char *>(nl) - text) + 1 : n;
        out.append(text + i, end - i);
        line_start = nl != nullptr;
        i = end;
    }
}

}  // namespace vellor::smtp
