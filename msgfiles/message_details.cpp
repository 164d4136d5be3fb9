// VELLOR_Get_Message_Details: the message file to work on (the one named, or
// the first of a message directory) and its envelope, read into the
// request's sender and recipient fields. Decisions of this library: an
// envelope that exists but cannot be opened counts as absent; a caller's own
// hRecipients block is locked and written over (its text replaced by the
// first recipient at the second RCPT TO line), its size taken from
// GlobalSize and enlarged by 1,024 bytes as often as needed; after a failed
// allocation or lock of the list, nRecipients counts the RCPT TO lines read,
// after a failed enlargement it is 0. The envelope's version is noted as it
// is read, for the delivery to remove it only while it is still that.
#include <cstring>

#include "platform/global_memory.h"
#include "common/export_guard.h"
#include "msgfiles/envelope_reader.h"
#include "msgfiles/message_details.h"
#include "platform/file_search.h"
#include "platform/files.h"
#include "support/options.h"
#include "support/text.h"

namespace vellor {

std::string ensure_msg_extension(SMTPSEND_STRUCTURE *request, const options::RequestValues &own) {
    if (empty(request->szMsgExtension)) {
        std::string opt = options::msg_extension(own);
        // An option too long for the field leaves it empty: the caller refuses (910).
        (void)set_field(request->szMsgExtension, opt.empty() ? std::string("TXT") : opt);
    }
    return field_text(request->szMsgExtension);
}

std::string envelope_path_of(const std::string &messageFile) {
    std::size_t dot = messageFile.rfind('.');
    return (dot == std::string::npos ? messageFile : messageFile.substr(0, dot)) + ".ENV";
}

namespace {

constexpr std::size_t kListStep = 1024;

// The recipient list block being built from an envelope.
struct ListBuilder {
    SMTPSEND_STRUCTURE *req;
    enum class Failure { None, Alloc, Lock, Enlarge };
    bool locked_here = false;
    Failure failure = Failure::None;
    std::size_t length = 0;
    int unfit_code = 0;  // an envelope address longer than its field: 902 or 912

    char *data() { return static_cast<char *>(req->lpRecipients); }

    bool open_block() {
        if (!req->hRecipients) {
            req->hRecipients = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, kListStep);
            if (!req->hRecipients) {
                req->szRecipient[0] = '\0';
                return fail(Failure::Alloc);
            }
        }
        req->lpRecipients = GlobalLock(req->hRecipients);
        if (!req->lpRecipients) {
            GlobalFree(req->hRecipients);
            req->hRecipients = nullptr;
            req->szRecipient[0] = '\0';
            return fail(Failure::Lock);
        }
        locked_here = true;
        return true;
    }

    bool fail(Failure f) {
        failure = f;
        return false;
    }

    // The block grows by 1,024 bytes while the text plus the address plus 2
    // (its blank and the closing NUL) would reach its size.
    bool enlarge_for(std::size_t add) {
        while (length + add + 2 >= GlobalSize(req->hRecipients)) {
            GlobalUnlock(req->hRecipients);
            HGLOBAL bigger = GlobalReAlloc(req->hRecipients, GlobalSize(req->hRecipients) + kListStep, GMEM_MOVEABLE);
            void *p = bigger ? GlobalLock(bigger) : nullptr;
            if (!p) {
                GlobalFree(req->hRecipients);
                req->hRecipients = nullptr;
                req->lpRecipients = nullptr;
                locked_here = false;
                req->szSender[0] = '\0';
                return fail(Failure::Enlarge);
            }
            req->hRecipients = bigger;
            req->lpRecipients = p;
        }
        return true;
    }

    void put(const std::string &text) {
        std::memcpy(data() + length, text.data(), text.size());
        length += text.size();
        data()[length] = '\0';
    }

    // The second RCPT TO line starts the list with the first recipient.
    bool add(const std::string &address, bool second) {
        if (second) {
            if (!open_block()) return false;
            length = 0;
            std::string first = field_text(req->szRecipient);
            if (!enlarge_for(first.size())) return false;
            put(first);
        }
        if (!enlarge_for(address.size())) return false;
        put(" " + address);
        return true;
    }
};

// Reads the envelope at path into the request; the number of RCPT TO lines.
int read_into(SMTPSEND_STRUCTURE *req, const std::string &path, ListBuilder &list, files::Stamp &stamp) {
    int fd = files::open_read(path);
    if (fd < 0) return 0;
    if (!files::stamp_of(fd, stamp)) stamp = files::Stamp{};  // before reading: a later change shows
    std::string bytes;
    char buf[65536];
    std::size_t got = 0;
    do {
        if (!files::read_all(fd, buf, sizeof buf, got)) break;
        bytes.append(buf, got);
    } while (got == sizeof buf);
    files::close(fd);
    int rcpts = 0;
    envelope::read_envelope(bytes, [&](const envelope::Line &line) {
        if (line.kind == envelope::LineKind::MailFrom) {
            if (!set_field(req->szSender, line.address)) list.unfit_code = 902;
        } else if (line.kind == envelope::LineKind::RcptTo) {
            if (line.address.size() >= sizeof req->szRecipient) list.unfit_code = 912;  // never cut
            if (list.unfit_code) return false;
            if (++rcpts == 1) {
                (void)set_field(req->szRecipient, line.address);  // fits: checked above
                return true;
            }
            req->bMultipleRecipients = 1;
            if (!list.add(line.address, rcpts == 2)) return false;
        }
        return true;
    });
    return rcpts;
}

// Directory form: the first message file of the directory and its envelope.
int find_in_directory(SMTPSEND_STRUCTURE *req, const std::string &ext, std::string &envelope) {
    std::string dir = field_text(req->szMessageFile);
    if (dir.empty() || dir.back() != files::kSeparator) dir += files::kSeparator;
    files::Search search;
    if (!set_field(req->szMessageFile, dir) || !search.first(dir + "*." + ext) ||
        !set_field(req->szMessageFile, dir + search.name())) {
        req->nErrorCode = 910;
        return -1;
    }
    std::string up = upper(field_text(req->szMessageFile));
    std::string needle = ".";
    needle += upper(ext);
    std::size_t at = up.find(needle);
    if (at == std::string::npos) {
        req->nErrorCode = 902;
        return -1;
    }
    envelope = up.substr(0, at) + ".ENV";
    return 0;
}

}  // namespace

int read_message_details(SMTPSEND_STRUCTURE *request, EnvelopeSeen *seen) {
    std::string ext = ensure_msg_extension(request, {});
    if (ext.empty()) {
        request->nErrorCode = 910;
        return -1;
    }
    std::string file = field_text(request->szMessageFile);
    std::string envelope;
    std::size_t dot = file.rfind('.');
    if (dot != std::string::npos) {
        if (!equal_nocase(file.substr(dot + 1), ext)) return 0;
        if (request->bUseEnvFile == 0) return 0;
        envelope = envelope_path_of(file);
    } else if (find_in_directory(request, ext, envelope) != 0) {
        return -1;
    }
    ListBuilder list{request};
    EnvelopeSeen noted{envelope, {}};
    int rcpts = files::exists(envelope) ? read_into(request, envelope, list, noted.stamp) : 0;
    if (seen) *seen = noted;
    if (list.locked_here && request->hRecipients) GlobalUnlock(request->hRecipients);
    if (list.failure == ListBuilder::Failure::Enlarge) rcpts = 0;
    if (rcpts > INT16_MAX || list.unfit_code) {  // never send a cut list or a cut address
        request->nRecipients = 0;
        request->nErrorCode = static_cast<int16_t>(list.unfit_code ? list.unfit_code : kEnvelopeTooLarge);
        return -1;
    }
    if (rcpts == 1) {
        request->nRecipients = 1;
        request->bSingleRecipient = 1;
        request->bMultipleRecipients = 0;
        if (request->hRecipients) {
            GlobalUnlock(request->hRecipients);
            GlobalFree(request->hRecipients);
            request->hRecipients = nullptr;
        }
    } else {
        request->nRecipients = static_cast<int16_t>(rcpts);
    }
    if (list.failure != ListBuilder::Failure::None) {
        request->nErrorCode = 913;
        return -1;
    }
    if (empty(request->szMessageFile) || empty(request->szSender) || empty(request->szRecipient)) {
        request->nErrorCode = 911;
        return -1;
    }
    return 0;
}

bool envelope_as_seen(const EnvelopeSeen &seen, const std::string &name) {
    if (seen.path.empty() || !equal_nocase(seen.path, envelope_path_of(name))) return true;
    files::Stamp now;
    bool there = files::stamp_at(files::resolve_nocase(seen.path), now);
    return seen.stamp.size < 0 ? !there : there && now == seen.stamp;
}

}  // namespace vellor

extern "C" VELLOR_API int32_t VELLOR_Get_Message_Details(SMTPSEND_STRUCTURE *request) {
    return vellor::guarded(-1, [&]() -> int32_t { return request ? vellor::read_message_details(request) : -1; });
}
