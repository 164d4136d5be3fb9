// SChannel's client side over a connection's wire. Each wait is the wire's,
// bounded by the deadline of the call in progress, so a server that stalls
// inside the handshake or stops reading costs one time-out, never more.
// Bytes the handshake returns as extra are fed back to it, and those left
// after it are the server's first records.
#define SCHANNEL_USE_BLACKLISTS
#include "transport/schannel_stream.h"

#include <subauth.h>
#include <schannel.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "common/text_fill.h"
#include "transport/transport_texts.h"

namespace vellor::transport::schannel {
namespace {

constexpr ULONG kRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                           ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_USE_SUPPLIED_CREDS;
// Certificates are judged by the caller; no client certificate is offered.
constexpr DWORD kCredentialFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
constexpr DWORD kOlderThan12 = SP_PROT_SSL2 | SP_PROT_SSL3 | SP_PROT_TLS1_0 | SP_PROT_TLS1_1;
constexpr std::size_t kMostBuffered = 1 << 20;  // far beyond any record: a server sending noise

std::string status_text(SECURITY_STATUS st) {
    switch (st) {
        case SEC_E_ILLEGAL_MESSAGE:
            return texts::kNotTls;
        case SEC_E_ALGORITHM_MISMATCH:
            return texts::kNothingInCommon;
        case SEC_E_UNSUPPORTED_FUNCTION:
            return texts::kVersionUnsupported;
        case SEC_E_MESSAGE_ALTERED:
            return texts::kRecordAltered;
        case SEC_E_DECRYPT_FAILURE:
            return texts::kRecordNotDecrypted;
        case SEC_E_INVALID_TOKEN:
            return texts::kHandshakeInvalid;
        default:
            break;
    }
    char text[48];
    std::snprintf(text, sizeof text, texts::kSspiStatus, static_cast<unsigned long>(st));
    return text;
}

const char *protocol_name(DWORD protocol) {
    if (protocol & SP_PROT_TLS1_1) return texts::kTls11;
    if (protocol & SP_PROT_TLS1_0) return texts::kTls10;
    if (protocol & SP_PROT_SSL3) return texts::kSsl3;
    return texts::kUnknownProtocol;
}

// in_ keeps only the bytes SSPI reported as not yet used.
void keep_extra(std::vector<char> &in, const SecBuffer &second) {
    if (second.BufferType == SECBUFFER_EXTRA && second.cbBuffer > 0 && second.cbBuffer <= in.size())
        in.erase(in.begin(), in.end() - second.cbBuffer);
    else
        in.clear();
}

}  // namespace

Stream::~Stream() {
    if (have_context_) ::DeleteSecurityContext(&context_);
    if (have_credentials_) ::FreeCredentialsHandle(&credentials_);
}

// The newer credentials structure (TLS 1.3 where the system has it), else
// the older one (TLS 1.2 only) for systems that do not know the newer.
bool Stream::acquire_credentials(std::string &why) {
    char package[] = UNISP_NAME_A;
    TLS_PARAMETERS params{};
    params.grbitDisabledProtocols = kOlderThan12;
    SCH_CREDENTIALS modern{};
    modern.dwVersion = SCH_CREDENTIALS_VERSION;
    modern.dwFlags = kCredentialFlags;
    modern.cTlsParameters = 1;
    modern.pTlsParameters = &params;
    SECURITY_STATUS st = ::AcquireCredentialsHandleA(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &modern, nullptr,
                                                     nullptr, &credentials_, nullptr);
    if (st != SEC_E_OK) {
        SCHANNEL_CRED older{};
        older.dwVersion = SCHANNEL_CRED_VERSION;
        older.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
        older.dwFlags = kCredentialFlags;
        st = ::AcquireCredentialsHandleA(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &older, nullptr, nullptr,
                                         &credentials_, nullptr);
    }
    if (st != SEC_E_OK) {
        why = fill(texts::kTlsNotSetUp, {status_text(st)});
        return false;
    }
    have_credentials_ = true;
    return true;
}

bool Stream::handshake(const std::string &sni, Deadline deadline, std::string &why) {
    target_ = sni;
    bool done = acquire_credentials(why) && first_message(deadline, why) && handshake_loop(deadline, true, why) &&
                check_protocol(why);
    if (!done) fail(kConnAborted);  // a wire failure's own code is kept
    return done;
}

// The client's hello, made and sent.
bool Stream::first_message(Deadline deadline, std::string &why) {
    SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outs{SECBUFFER_VERSION, 1, &out};
    ULONG attrs = 0;
    SECURITY_STATUS st = ::InitializeSecurityContextA(&credentials_, nullptr, target_.empty() ? nullptr : &target_[0],
                                                      kRequest, 0, 0, nullptr, 0, &context_, &outs, &attrs, nullptr);
    if (st != SEC_I_CONTINUE_NEEDED) {
        why = fill(texts::kHandshakeFailed, {status_text(st)});
        return false;
    }
    have_context_ = true;
    if (!send_token(out, deadline)) {
        why = fill(texts::kHandshakeFailed, {texts::kFirstMessageNotSent});
        return false;
    }
    return true;
}

// Server messages in, our answers out, until SSPI says the handshake is
// done. A message that came only in part waits for the rest.
bool Stream::handshake_loop(Deadline deadline, bool read_first, std::string &why) {
    bool need_input = read_first && in_.empty();
    for (;;) {
        if (need_input) {
            int n = read_more(deadline);
            if (n <= 0) {
                if (n == 0) fail(kConnAborted);
                why = fill(texts::kHandshakeFailed, {n == 0                ? texts::kServerClosed
                                                     : error_ == kTimedOut ? texts::kNoAnswerInTime
                                                                           : texts::kConnectionBroke});
                return false;
            }
        }
        SecBuffer in[2] = {{static_cast<ULONG>(in_.size()), SECBUFFER_TOKEN, in_.data()},
                           {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc ins{SECBUFFER_VERSION, 2, in};
        SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
        SecBufferDesc outs{SECBUFFER_VERSION, 1, &out};
        ULONG attrs = 0;
        SECURITY_STATUS st =
            ::InitializeSecurityContextA(&credentials_, &context_, target_.empty() ? nullptr : &target_[0], kRequest, 0,
                                         0, &ins, 0, nullptr, &outs, &attrs, nullptr);
        if (st == SEC_E_INCOMPLETE_MESSAGE) {
            need_input = true;
            continue;
        }
        bool sent = send_token(out, deadline);  // an alert on failure
        if (st == SEC_I_INCOMPLETE_CREDENTIALS) {
            why = fill(texts::kHandshakeFailed, {texts::kClientCertificateAsked});
            return false;
        }
        if (FAILED(st) || !sent) {
            why = fill(texts::kHandshakeFailed, {FAILED(st) ? status_text(st) : std::string(texts::kMessageNotSent)});
            return false;
        }
        keep_extra(in_, in[1]);
        if (st == SEC_E_OK) return true;
        need_input = in_.empty();
    }
}

bool Stream::check_protocol(std::string &why) {
    SecPkgContext_ConnectionInfo info{};
    if (::QueryContextAttributesA(&context_, SECPKG_ATTR_CONNECTION_INFO, &info) != SEC_E_OK ||
        ::QueryContextAttributesA(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_) != SEC_E_OK) {
        why = fill(texts::kHandshakeFailed, {texts::kParametersUnread});
        return false;
    }
    if ((info.dwProtocol & kOlderThan12) || info.dwProtocol == 0) {
        why = fill(texts::kHandshakeFailed, {fill(texts::kSettledOn, {protocol_name(info.dwProtocol)})});
        return false;
    }
    return true;
}

bool Stream::send_token(SecBuffer &token, Deadline deadline) {
    if (!token.pvBuffer) return true;
    bool ok = send_raw(static_cast<const char *>(token.pvBuffer), token.cbBuffer, deadline);
    ::FreeContextBuffer(token.pvBuffer);
    token.pvBuffer = nullptr;
    return ok;
}

bool Stream::send_raw(const char *data, std::size_t len, Deadline deadline) {
    while (len > 0) {
        int n = wire_.send(data, len, deadline);
        if (n <= 0) {
            fail(wire_.error());
            return false;
        }
        data += n;
        len -= static_cast<std::size_t>(n);
    }
    return true;
}

// Appends what the wire brings to in_: the count, 0 when the server closed
// the connection, -1 on failure or time-out.
int Stream::read_more(Deadline deadline) {
    if (in_.size() > kMostBuffered) {
        fail(kConnAborted);
        return -1;
    }
    char buf[16384 + 512];
    int n = wire_.receive(buf, sizeof buf, deadline);
    if (n < 0) fail(wire_.error());
    if (n > 0) in_.insert(in_.end(), buf, buf + n);
    return n;
}

bool Stream::send(const char *data, std::size_t len, Deadline deadline) {
    if (dead_ || ended_) {
        fail(kConnAborted);
        return false;
    }
    std::vector<char> record;
    while (len > 0) {
        std::size_t n = std::min<std::size_t>(len, sizes_.cbMaximumMessage);
        record.assign(sizes_.cbHeader + n + sizes_.cbTrailer, 0);
        std::memcpy(record.data() + sizes_.cbHeader, data, n);
        SecBuffer parts[4] = {{sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
                              {static_cast<ULONG>(n), SECBUFFER_DATA, record.data() + sizes_.cbHeader},
                              {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes_.cbHeader + n},
                              {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, parts};
        if (::EncryptMessage(&context_, 0, &desc, 0) != SEC_E_OK) {
            fail(kConnAborted);
            return false;
        }
        if (!send_raw(record.data(), parts[0].cbBuffer + parts[1].cbBuffer + parts[2].cbBuffer, deadline)) return false;
        data += n;
        len -= n;
    }
    return true;
}

// Opens the first whole record of in_: 1 when one was opened (or the
// session ended), 0 when more bytes are needed, -1 on failure.
int Stream::decrypt_some(Deadline deadline) {
    SecBuffer parts[4] = {{static_cast<ULONG>(in_.size()), SECBUFFER_DATA, in_.data()},
                          {0, SECBUFFER_EMPTY, nullptr},
                          {0, SECBUFFER_EMPTY, nullptr},
                          {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, parts};
    SECURITY_STATUS st = ::DecryptMessage(&context_, &desc, 0, nullptr);
    if (st == SEC_E_INCOMPLETE_MESSAGE) return 0;
    if (st == SEC_I_CONTEXT_EXPIRED) {  // close_notify
        ended_ = true;
        in_.clear();
        return 1;
    }
    if (st != SEC_E_OK && st != SEC_I_RENEGOTIATE) {
        fail(kConnAborted);
        return -1;
    }
    std::vector<char> extra;
    for (const SecBuffer &b : parts) {
        const char *p = static_cast<const char *>(b.pvBuffer);
        if (b.BufferType == SECBUFFER_DATA && p) plain_.append(p, b.cbBuffer);
        if (b.BufferType == SECBUFFER_EXTRA && p) extra.assign(p, p + b.cbBuffer);
    }
    in_.swap(extra);
    if (st == SEC_I_RENEGOTIATE) {  // a post-handshake message (TLS 1.3 tickets, a new handshake)
        std::string why;
        if (!handshake_loop(deadline, false, why)) {
            fail(kConnAborted);
            return -1;
        }
    }
    return 1;
}

int Stream::recv(char *buf, std::size_t len, Deadline deadline) {
    for (;;) {
        if (dead_) return -1;
        if (plain_at_ < plain_.size()) {
            std::size_t n = std::min(len, plain_.size() - plain_at_);
            n = std::min<std::size_t>(n, INT_MAX);
            std::memcpy(buf, plain_.data() + plain_at_, n);
            plain_at_ += n;
            if (plain_at_ == plain_.size()) {
                plain_.clear();
                plain_at_ = 0;
            }
            return static_cast<int>(n);
        }
        if (ended_) return 0;
        int opened = in_.empty() ? 0 : decrypt_some(deadline);
        if (opened < 0) return -1;
        if (opened > 0) continue;
        int n = read_more(deadline);
        if (n < 0) return -1;
        if (n == 0) ended_ = true;
    }
}

void Stream::close_notify(Deadline deadline) {
    if (!have_context_ || ended_ || dead_) return;
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer token{sizeof type, SECBUFFER_TOKEN, &type};
    SecBufferDesc tokens{SECBUFFER_VERSION, 1, &token};
    if (::ApplyControlToken(&context_, &tokens) != SEC_E_OK) return;
    SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outs{SECBUFFER_VERSION, 1, &out};
    ULONG attrs = 0;
    ::InitializeSecurityContextA(&credentials_, &context_, target_.empty() ? nullptr : &target_[0], kRequest, 0, 0,
                                 nullptr, 0, nullptr, &outs, &attrs, nullptr);
    send_token(out, deadline);
    ended_ = true;
}

}  // namespace vellor::transport::schannel
