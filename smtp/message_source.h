// The message file of one transaction as the delivery hands it over. The
// delivery (submit/) opens message files, claims them against other
// senders, reads them ahead and removes them; the session reads only the
// descriptor or the text it is handed, and says whether the server accepted.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace vellor::smtp {

// A message file up to this size is read whole once and sent from memory
// (with room for the end-of-data line after it); a larger one is streamed in
// blocks as it is sent.
constexpr uint64_t kKeptWhole = uint64_t{64} * 1024;
constexpr std::size_t kEndRoom = 5;  // "\r\n.\r\n"

enum class FileState {
    Ready,       // open and claimed
    Missing,     // no such file
    Unreadable,  // not a regular file that can be read (a queue entry: nor a link)
    Claimed,     // another sender holds it
};

struct MessageSource {
    FileState state = FileState::Missing;
    int fd = -1;  // Ready: the open file; the delivery closes it
    uint64_t size = 0;
    std::string text;  // the whole text when it was read ahead (has_text)
    bool has_text = false;
    // Still the very file, at the very version, that was opened: asked just
    // before MAIL FROM, so that a message withdrawn or replaced by then is
    // not sent.
    std::function<bool()> current;
};

}  // namespace vellor::smtp
