// A small file read whole through the file calls of files.h: a key or a
// certificate file, never a FIFO, device or folder (open_regular refuses
// them without waiting) and never more than a bound set by the caller.
#include "platform/small_file.h"

#include "common/text_fill.h"
#include "platform/files.h"
#include "platform/platform_texts.h"

namespace vellor::files {

bool read_small_file(const std::string &path, std::size_t most, std::string &text, std::string &why) {
    Stamp stamp;
    int fd = open_regular(path, false, stamp);
    int64_t size = stamp.size;
    if (fd < 0) {
        why = exists(path) ? platform::texts::kNotRegularFile : platform::texts::kFileUnreadable;
        return false;
    }
    if (size < 0 || static_cast<uint64_t>(size) > most) {
        close(fd);
        why = fill(platform::texts::kFileTooLarge, {std::to_string(size), std::to_string(most)});
        return false;
    }
    text.assign(static_cast<std::size_t>(size), '\0');
    std::size_t got = 0;
    bool ok = read_all(fd, text.data(), text.size(), got);
    close(fd);
    text.resize(got);
    if (!ok) why = platform::texts::kFileUnreadable;
    return ok;
}

}  // namespace vellor::files
