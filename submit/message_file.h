// A message file as the delivery holds it: opened once, claimed against
// other senders, handed to the session for each transaction, and removed
// only while it is still the very file, at the very version, that went out.
// Relies on the file calls of platform/files.h.
//
// The claim (of a file to be deleted once sent): an exclusive lock on the open file (flock, or LockFileEx on
// Windows), taken without waiting, held from the open to the removal, and
// given up when the file is closed or its process ends. After locking, the
// path must still name the locked file: a sender that loses the race to
// one that sent and removed the file finds the name gone or naming a new
// file, and leaves it. A sender killed at any moment therefore loses
// nothing: its claim ends with it and the file, still there, is taken up
// by the next pass (it may then go twice, never zero times).
//
// The version: device and inode, size, modification and change times, read
// from the descriptor when the file is opened; checked again on the
// descriptor and on the path just before MAIL FROM and just before the
// removal.
#pragma once
#include <optional>
#include <string>

#include "platform/files.h"
#include "submit/delivery_context.h"
#include "smtp/envelope.h"
#include "smtp/transaction.h"
#include "smtp/message_source.h"

namespace vellor {

// Why the file of an accepted message stays: it is no longer the one that
// went out (Changed), or, still that one, the system refused to remove it
// (Refused: no permission to remove entries there).
enum class FileLeft { No, Changed, Refused };

// The report's text for a file left (a pattern taking its name).
const char *left_report(FileLeft why);

class MessageFile {
public:
    MessageFile() = default;
    MessageFile(MessageFile &&other) noexcept;
    MessageFile &operator=(MessageFile &&other) noexcept;
    MessageFile(const MessageFile &) = delete;
    MessageFile &operator=(const MessageFile &) = delete;
    ~MessageFile() { close(); }

    // Opens `path` (looked up without regard to letter case as every file
    // name is), and claims it when it is to be deleted once sent (without
    // that, every sender sends it anyway); a queued entry is never followed
    // through a link.
    smtp::FileState open(const std::string &path, bool queued, bool claim);
    // Reads a file of up to smtp::kKeptWhole bytes whole, for the
    // transaction to take instead of reading it again.
    void read_whole();
    // Still the file, at the version, it was when opened: its name's entry
    // is the same file (device and inode) with the same stamp.
    bool current() const;
    // Removes the file when it is current: exactly the name it was opened
    // by, never a namesake. False, and the file left, otherwise.
    bool remove();
    void close();

    smtp::FileState state() const { return state_; }
    int fd() const { return fd_; }
    const std::string &path() const { return path_; }  // as found on disk
    const files::Stamp &stamp() const { return stamp_; }

    std::string text;  // the whole text when read_whole() kept it
    bool has_text = false;
    std::optional<smtp::CheckedText> checked;  // the text's check, when made as it was read ahead

private:
    smtp::FileState state_ = smtp::FileState::Missing;
    int fd_ = -1;
    std::string path_;
    files::Stamp stamp_;
};

// What the delivery hands the session for one transaction
// (smtp/transaction.h's Handoff): the message in hand (Delivery::hand) with
// its file, the transaction's envelope (submit/transaction_envelope.h), the
// message options (the pass's, else read now) and the send's signer.
class Handover {
public:
    Handover(Delivery &c, MessageFile &file, bool conversation);
    Handover(const Handover &) = delete;
    Handover &operator=(const Handover &) = delete;
    const smtp::Handoff &handoff() const { return handoff_; }

private:
    smtp::Envelope envelope_;
    smtp::Message message_;
    options::MessageOptions options_;
    smtp::Handoff handoff_;
};

}  // namespace vellor
