// Reading a small file whole (a DKIM key, a CA file): the one file call the
// session and transport layers may make. Relies on platform/files.h.
#pragma once
#include <cstddef>
#include <string>

namespace vellor::files {

// A small file (a key, certificates) read whole into `text`: only a regular
// file of at most `most` bytes, so nothing waits on a FIFO or reads a device
// without end. False with the reason in `why`.
bool read_small_file(const std::string &path, std::size_t most, std::string &text, std::string &why);

}  // namespace vellor::files
