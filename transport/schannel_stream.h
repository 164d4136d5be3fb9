// One TLS stream over a connection's wire, through the system's own TLS
// (SChannel, reached through SSPI): the client credentials (TLS 1.2 at
// least, no default client certificate, certificates left to the caller),
// the handshake loop with SNI, records sealed and opened with the stream
// sizes the handshake settled, and close_notify. The network is reached only
// through the Wire, with the deadline of the call in progress; after any
// failure the stream is of no further use. Knows nothing of SMTP or of
// certificates' trust (schannel_certificate.h judges those).
#pragma once
#define SECURITY_WIN32
#include <winsock2.h>
#include <windows.h>
#include <security.h>

#include <cstddef>
#include <string>
#include <vector>

#include "transport/wire.h"

namespace vellor::transport::schannel {

class Stream {
public:
    explicit Stream(Wire &wire) : wire_(wire) {}
    ~Stream();
    Stream(const Stream &) = delete;
    Stream &operator=(const Stream &) = delete;

    // The handshake. `sni` is the name sent to the server (empty: none). false
    // with the reason in `why`; a protocol older than TLS 1.2 is refused.
    bool handshake(const std::string &sni, Deadline deadline, std::string &why);
    const CtxtHandle *context() const { return &context_; }

    // The whole of len bytes sealed and sent; false on failure (error()).
    bool send(const char *data, std::size_t len, Deadline deadline);
    // Plaintext received: the count, 0 when the server ended the session
    // (close_notify or a closed connection), -1 on failure (error()).
    int recv(char *buf, std::size_t len, Deadline deadline);
    // Sends close_notify (best effort, bounded by the deadline); nothing
    // after a failure.
    void close_notify(Deadline deadline);
    // The Winsock-style code of the last failure (transport/wire.h).
    int error() const { return error_; }
    // Ends the stream's use, as a failure of `code` does.
    void fail(int code) {
        if (!dead_) error_ = code;
        dead_ = true;
    }

private:
    bool acquire_credentials(std::string &why);
    bool first_message(Deadline deadline, std::string &why);
    bool handshake_loop(Deadline deadline, bool read_first, std::string &why);
    bool send_token(SecBuffer &token, Deadline deadline);
    bool send_raw(const char *data, std::size_t len, Deadline deadline);
    int read_more(Deadline deadline);
    bool check_protocol(std::string &why);
    int decrypt_some(Deadline deadline);

    Wire &wire_;
    CredHandle credentials_{};
    CtxtHandle context_{};
    bool have_credentials_ = false;
    bool have_context_ = false;
    std::string target_;
    SecPkgContext_StreamSizes sizes_{};
    std::vector<char> in_;      // received and not yet opened
    std::string plain_;         // opened and not yet handed out
    std::size_t plain_at_ = 0;  // plain_'s first byte not handed out
    bool ended_ = false;        // the server ended the session
    bool dead_ = false;         // a failure: no further use
    int error_ = 0;
};

}  // namespace vellor::transport::schannel
