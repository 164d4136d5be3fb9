// VELLOR_Send_Message: defaults, the checks and refusals (before any network
// activity), the companion start, the choice of one delivery procedure, and
// the companion stop on every path after a successful start.
// Decision of this library: a single recipient that fails the address check
// is not refused here; it is offered to the server as it is, which then
// judges it.
#include <cstring>

#include "platform/files.h"
#include "platform/small_file.h"
#include "platform/global_memory.h"
#include "common/export_guard.h"
#include "msgfiles/message_details.h"
#include "submit/delivery.h"
#include "submit/message_in_hand.h"
#include "msgfiles/recipients.h"
#include "dkim/signer.h"
#include "support/log_file.h"
#include "support/options.h"
#include "support/request_options.h"
#include "support/text.h"
#include "transport/companion.h"
#include "support/report_texts.h"

namespace vellor {
namespace {

struct Facts {
    bool sender_valid = false;
    bool server_given = false;
};

// Reads the DKIM options and loads the key into the call (nothing when DKIM
// is not asked for). false after the failure report (status 920, code 930).
bool prepare_signing(Delivery &c) {
    options::DkimOptions o = options::dkim_options(c.own);
    std::string why;
    c.dkim = dkim::signer_of(o.domain, o.selector, o.key_file, why);
    if (why.empty()) return true;
    c.report(Where::both, 920, dkim::kKeyUnusable, why + texts::kNothingSent);
    c.req->nErrorCode = dkim::kKeyUnusable;
    return false;
}

// The sender and single-recipient checks.
void check_addresses(Delivery &c, Facts &f) {
    SMTPSEND_STRUCTURE *r = c.req;
    if (!empty(r->szSender)) {
        c.report(Where::both, 921, 0, format(texts::kValidatingSender, field_text(r->szSender).c_str()));
        if (is_valid_address(field_text(r->szSender), c.app)) {
            f.sender_valid = true;
            c.report(Where::both, 921, 0, texts::kSenderValidated);
        }
    }
    if (!empty(r->szRecipient)) {
        c.report(Where::both, 921, 0, format(texts::kValidatingRecipient, field_text(r->szRecipient).c_str()));
        if (is_valid_address(field_text(r->szRecipient), c.app)) {
            c.report(Where::log_prefixed, 0, 0, texts::kRecipientValidated);
            c.report(Where::callback, 921, 0, texts::kRecipientValidatedLower);
        }
    }
}

// A message file when the extension occurs in the path, else a
// message directory (a trailing separator is added); false when the
// directory's path with its separator does not fit the field.
bool classify_message_path(SMTPSEND_STRUCTURE *r) {
    std::string path = field_text(r->szMessageFile);
    if (path.empty() || find_text_nocase(path, field_text(r->szMsgExtension)) != std::string::npos) return true;
    r->bMessageDirectory = 1;
    return path.back() == files::kSeparator || set_field(r->szMessageFile, path + files::kSeparator);
}

bool refuse(Delivery &c, int code, const std::string &log_text, const std::string &callback_text) {
    c.report(Where::log_prefixed, 0, 0, log_text);
    c.report(Where::callback, 920, code, callback_text);
    c.req->nErrorCode = static_cast<int16_t>(code);
    return true;
}

// The list text of hRecipients, read within the block's size, leaving
// lpRecipients as it was.
std::string list_text_of(SMTPSEND_STRUCTURE *r) {
    void *p = r->hRecipients ? GlobalLock(r->hRecipients) : nullptr;
    if (!p) return {};
    std::string text = list_text(r->hRecipients, p);
    GlobalUnlock(r->hRecipients);
    return text;
}

// Every text that goes into an SMTP command stays on one line: a CR or LF
// inside one would add commands of its own (a second recipient, a forged
// sender). True, after the refusal, when one does not.
bool refused_line_break(Delivery &c) {
    SMTPSEND_STRUCTURE *r = c.req;
    struct Field {
        const char *name;
        std::string text;
        int code;
    } fields[] = {{texts::kHeloDomain, field_text(r->szHeloDomain), 901},
                  {texts::kSenderAddress, field_text(r->szSender), 902},
                  {texts::kRecipientAddress, field_text(r->szRecipient), 903},
                  {texts::kRecipientList, r->bUseEnvFile ? std::string() : list_text_of(r), 912},
                  {texts::kLoginUser, field_text(r->szAuthUser), 917},
                  {texts::kLoginPassword, field_text(r->szAuthPassword), 917}};
    for (const Field &f : fields) {
        if (one_line_text(f.text)) continue;
        std::string t = format(texts::kFieldLineBreak, f.name);
        return refuse(c, f.code, t, c.prefixed(t));
    }
    return false;
}

template <std::size_t N>
bool filled(const char (&field)[N]) {
    return std::memchr(field, '\0', N) == nullptr;
}

// A text field filled to its last byte, without a NUL, is read whole
// within its width; such a value does not fit the field the send writes it
// back to (an address, a name), so it is refused with the field's code
// before anything is sent: never an empty or cut value on the wire. True
// after the refusal.
bool refused_filled(Delivery &c) {
    SMTPSEND_STRUCTURE *r = c.req;
    struct Field {
        const char *what;
        bool full;
        std::size_t size;
        int code;
    } fields[] = {{texts::kServerField, filled(r->szServer), sizeof r->szServer, 905},
                  {texts::kServerAddressField, filled(r->szServerIP), sizeof r->szServerIP, 905},
                  {texts::kHeloField, filled(r->szHeloDomain), sizeof r->szHeloDomain, 901},
                  {texts::kMessageFileField, filled(r->szMessageFile), sizeof r->szMessageFile, 910},
                  {texts::kSenderField, filled(r->szSender), sizeof r->szSender, 902},
                  {texts::kRecipientField, filled(r->szRecipient), sizeof r->szRecipient, 903},
                  {texts::kLoginUserField, filled(r->szAuthUser), sizeof r->szAuthUser, 917},
                  {texts::kLoginPasswordField, filled(r->szAuthPassword), sizeof r->szAuthPassword, 917}};
    for (const Field &f : fields)
        if (f.full) return c.unfit(f.code, f.what, f.size) == -1;
    return false;
}

// Values that would not fit where the send writes them, and a port that
// is no TCP port (it would wrap: 65561 dials 25). True after the refusal.
bool refused_unfit(Delivery &c, bool path_fits) {
    SMTPSEND_STRUCTURE *r = c.req;
    if (refused_filled(c)) return true;
    if (empty(r->szMsgExtension))
        c.unfit(910, texts::kMsgExtensionField, sizeof r->szMsgExtension);
    else if (!path_fits)
        c.unfit(910, texts::kDirectoryField, sizeof r->szMessageFile);
    else if (r->nPort <= 65535)
        return false;
    else {
        std::string t = format(texts::kNotTcpPort, static_cast<int>(r->nPort));
        refuse(c, 907, t, c.prefixed(t));
    }
    return true;
}

// A security option present but unusable (text where a number belongs, a
// number out of range, a wrong length) never falls back to a plain session.
// So is a TLSCAFile a secure session could not use: missing, a folder, a
// FIFO or device, over 4 MiB, or without a PEM certificate.
bool refused_options(Delivery &c) {
    options::MessageOptions o = options::message_options(c.own);
    std::string unusable = o.unusable, pem, why;
    if (unusable.empty() && o.secure_connection != 0 && !o.tls_ca_file.empty()) {
        if (files::read_small_file(o.tls_ca_file, 4u << 20, pem, why) && pem.find("-----BEGIN ") != std::string::npos &&
            pem.find("CERTIFICATE-----") != std::string::npos)
            return false;
        unusable = fill(texts::kCaFileUnusable, {o.tls_ca_file, why.empty() ? texts::kNoPem : why});
    }
    options::NetworkOptions net = options::network_options(c.own);
    if (unusable.empty()) unusable = net.unusable;
    if (unusable.empty() && !net.source.empty() && !transport::family_of(net.source))
        unusable = fill(texts::kSourceNotAddress, {net.source});
    c.family = net.family;
    c.source = net.source;
    if (unusable.empty()) return false;
    std::string t = texts::kRefusedBeforeConnection + unusable;
    return refuse(c, 907, t, c.prefixed(t));
}

// A source address this host does not have: 907 before any connection.
// The options stay with the record they were set on: a byte copy of such a
// record (its mark, at another address) would go without them, a record that
// requires TLS in the clear.
bool refused_copy(Delivery &c) {
    uint32_t mark = c.req->dwReserved2;
    if (mark == 0 || mark == options::options_mark(c.req)) return false;
    std::string t = texts::kRecordCopy;
    return refuse(c, 907, t, c.prefixed(t));
}

bool refused_source(Delivery &c) {
    int code = c.source.empty() ? 0 : c.source_check(c.source);
    if (code == 0) return false;
    std::string t = format(texts::kSourceNotBound, c.source.c_str(), code);
    return refuse(c, 907, t, c.prefixed(t));
}

// The refusals, in order; true when the request is refused.
bool refused(Delivery &c, const Facts &f) {
    SMTPSEND_STRUCTURE *r = c.req;
    if (!f.sender_valid && !r->bUseEnvFile) {
        std::string t = format(texts::kNoSender, field_text(r->szSender).c_str());
        return refuse(c, 902, t, t);
    }
    if (r->bSingleRecipient && empty(r->szRecipient) && !r->hRecipients && !r->bUseEnvFile) {
        std::string t = texts::kEmptyRecipient;
        return refuse(c, 911, t, c.prefixed(t));
    }
    if (r->bMultipleRecipients && !r->hRecipients) {
        std::string t = texts::kNoListInMemory;
        return refuse(c, 908, t, c.prefixed(t));
    }
    if (!r->bUseEnvFile && r->hRecipients) {
        if (!validate_recipient_list(r, c)) {
            std::string t = texts::kListNotValidated;
            return refuse(c, 912, t, c.prefixed(t));
        }
        if (r->nRecipients == 0) {
            std::string t = texts::kNoValidInList;
            return refuse(c, 912, t, c.prefixed(t));
        }
    }
    bool token = !options::message_options(c.own).oauth2_token.empty();  // a user with a token needs no password
    if (empty(r->szAuthUser) ? !empty(r->szAuthPassword) : (empty(r->szAuthPassword) && !token)) {
        std::string t = texts::kLoginFieldMissing;
        return refuse(c, 917, t, c.prefixed(t));
    }
    if (token && !options::token_user_agrees(r, field_text(r->szAuthUser))) {
        std::string t = fill(texts::kTokenOtherUser, {field_text(r->szAuthUser)});
        return refuse(c, 917, t, c.prefixed(t));
    }
    return refused_line_break(c) || refused_options(c);
}

// The send's companion started, its steps logged; false (918 reported)
// when it cannot start.
bool start_send_companion(Delivery &c) {
    c.report(Where::log_prefixed, 0, 0, texts::kWinsockInit);
    c.report(Where::log_prefixed, 0, 0, texts::kWinsockStructure);
    c.report(Where::log_prefixed, 0, 0, texts::kWinsockStart);
    return start_companion(c);
}

void stop_companion(Delivery &c) {
    c.stop_companion(c.app);
    c.report(Where::log_prefixed, 0, 0, texts::kWinsockCleanup);
    c.report(Where::log_prefixed, 0, 0, texts::kWinsockClosedown);
}

}  // namespace

bool start_companion(Delivery &c) {
    if (c.start_companion(c.app)) return true;
    c.report(Where::both_prefixed, 920, 918, format(texts::kNoWinsockFor, c.app.c_str()));
    c.req->nErrorCode = 918;
    return false;
}
}  // namespace vellor

using namespace vellor;

extern "C" VELLOR_API int32_t VELLOR_Send_Message(const char *applicationName, SMTPSEND_STRUCTURE *request,
                                                  VELLOR_STATUS_CALLBACK statusCallback) {
    return vellor::guarded(-1, [&]() -> int32_t {
        if (!request) return -1;
        // Each send has its own connection, with its own companion block and
        // session record, so sends on several threads at once share no
        // companion state.
        Delivery c;
        c.own = options::values_of(request);  // the record's options, taken once, over the file's
        LogBatch lines(c.own);                // every line of this call is on disk before it returns
        c.lines = &lines;
        c.app = text_or_empty(applicationName);
        c.take_record(request);
        c.cb = statusCallback;

        Facts f;
        ensure_msg_extension(request, c.own);
        check_addresses(c, f);
        bool path_fits = classify_message_path(request);
        f.server_given = !empty(request->szServer) || !empty(request->szServerIP);
        if (request->nPort < 1) request->nPort = 25;
        if (refused_copy(c) || refused_unfit(c, path_fits) || refused(c, f) || !prepare_signing(c)) return -1;
        c.report(Where::callback, 921, 0, texts::kAllValidated);
        if (!start_send_companion(c)) return -1;
        if (refused_source(c)) {
            stop_companion(c);
            return -1;
        }
        take_request(c);
        take_from_record(c);
        std::string user = field_text(request->szAuthUser);
        int result = deliver_by(c, route_of(*request, f.server_given));
        stop_companion(c);
        options::token_user_moved(request, user, field_text(request->szAuthUser));  // the login's own rewrite
        return result;
    });
}
