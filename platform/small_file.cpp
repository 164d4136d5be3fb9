// A small file read whole through the file calls of files.h: a key or a
// certificate file, never a FIFO, device or folder (open_regular refuses
// them without waiting) and never more than a bound set by the caller.
#include "platform/small_file.h"

#include "platform/files.h"

namespace vellor::files {

bool read_small_file(const std::string &path, std::size_t most, std::string &text, std::string &why) {
    Stamp stamp;
    int fd = open_regular(path, false, stamp);
    int64_t size = stamp.size;
    if (fd < 0) {
        why = exists(path) ? "not a regular file" : "the file cannot be read";
        return false;
    }
    if (size < 0 || static_cast<uint64_t>(size) > most) {
        close(fd);
        why = "a file of " + std::to_string(size) + " bytes, more than " + std::to_string(most);
        return false;
    }
    text.assign(static_cast<std::size_t>(size), '\0');
    std::size_t got = 0;
    bool ok = read_all(fd, text.data(), text.size(), got);
    close(fd);
    text.resize(got);
    if (!ok) why = "the file cannot be read";
    return ok;
}

}  // namespace vellor::files
