// The next message of a queue pass, read while the server works on the
// current one: the pass names its next file, a transaction reads it in the
// wait for its final reply, and the next transaction takes the text instead
// of opening the file, so that its MAIL FROM leaves as soon as that reply is
// in. Relies on the file calls of platform/files.h.
//
// Nothing is judged or reported here. Only a regular file (no symbolic
// link), small enough to be read whole anyway, and read whole at once is
// kept; any other file is left to the usual open, with its checks and
// reports in their usual place. The text is taken once, for the same path
// only, and only within kFresh of its reading: after a slow reply the file
// is read again, so that a message the application changed or removed
// meanwhile goes out as it is then, or not at all. The file itself is never
// touched (a file is removed only after its own final reply).
#pragma once
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace vellor::smtp {

// A message file up to this size is read whole once and sent from memory
// (with room for the end-of-data line after it); a larger one is streamed in
// blocks as it is sent.
constexpr uint64_t kKeptWhole = uint64_t{64} * 1024;
constexpr std::size_t kEndRoom = 5;  // "\r\n.\r\n"

class ReadAhead {
public:
    static constexpr std::chrono::milliseconds kFresh{10};

    // The file to read next: `file` in `dir` (which ends with its separator),
    // or none when `file` is empty. A text read before stays until the next
    // fill() or clear().
    void name(std::string_view dir, std::string_view file);
    // Reads the named file, once, in place of any text read before;
    // nothing happens when none is named.
    void fill();
    // The text read ahead for `path`, moved into `text`; false when there is
    // none (the file is then opened as usual).
    bool take(std::string_view path, std::string &text);
    // Forgets the name and any text (a pass ends).
    void clear();

private:
    std::string next_;    // the file fill() reads
    bool tried_ = false;  // fill() has run for next_
    std::string path_;    // the file text_ was read from
    std::string text_;
    bool kept_ = false;  // text_ holds the whole of path_
    std::chrono::steady_clock::time_point read_at_;
};

}  // namespace vellor::smtp
