// The next message of a queue pass, opened, claimed and read while the
// server works on the current one, so that its MAIL FROM leaves as soon as
// the current one's final reply is in. Relies on submit/message_file.h.
//
// Nothing is judged or reported here: a file that cannot be opened or is
// claimed by another sender is left to its own turn, where the usual checks
// and reports happen. At its turn the file is taken only when it is still
// the very file, at the very version, that was read (checked on the
// descriptor and on the path); otherwise it is opened again, so that a
// message the application replaced, rewrote or removed meanwhile goes out
// as it is then, or not at all.
#pragma once
#include <string>

#include "submit/message_file.h"

namespace vellor {
namespace dkim {
struct Signer;
}

class ReadAhead {
public:
    // The file to read next, or none when `path` is empty; claimed when
    // `claim` (see MessageFile::open).
    void name(const std::string &path, bool claim);
    // Opens, claims, reads and checks the named file, once (signing it with
    // `signer` when the send signs).
    void fill(const dkim::Signer *signer);
    // The file read ahead for `path`, moved into `file`; false when there is
    // none or it changed (the file is then opened as usual).
    bool take(const std::string &path, MessageFile &file);
    void clear();

private:
    std::string next_;    // the file fill() reads
    bool tried_ = false;  // fill() has run for next_
    bool claim_ = false;
    std::string path_;  // the file held
    MessageFile file_;
};

}  // namespace vellor
