// The TLS part of a connection on Windows, through the system's SChannel:
// the stream of schannel_stream.h over the connection's wire, its
// certificate judged by schannel_certificate.h once the handshake is done
// (SChannel itself checks nothing). The name is sent as SNI unless it is
// an address. The extra CAs of the peer's PEM file are read when the
// session is made, so an unreadable file fails before the handshake.
#include "transport/schannel_certificate.h"
#include "transport/schannel_stream.h"
#include "transport/tls_session.h"

// After windows.h (through schannel_stream.h), which it needs first.
#include <schannel.h>

namespace vellor::transport {
namespace {

class SchannelSession final : public TlsSession {
public:
    SchannelSession(Wire &wire, const TlsPeer &peer) : stream_(wire), peer_(peer) {}
    ~SchannelSession() override {
        if (cas_) ::CertCloseStore(cas_, 0);
    }

    bool load_cas(std::string &why) { return (cas_ = schannel::load_ca_file(peer_.ca_file, why)) != nullptr; }
    bool handshake(Deadline deadline, std::string &why) override {
        std::string sni = schannel::is_address(peer_.name) ? std::string() : peer_.name;
        if (!stream_.handshake(sni, deadline, why)) return false;
        ready_ = true;
        if (schannel::certificate_accepted(stream_.context(), peer_, cas_, why)) return true;
        if (!peer_.enforce) return true;  // opportunistic: the failed check is told (`why`), the session goes on
        ready_ = false;
        stream_.close_notify(deadline);  // the refusal, as an alert would say it
        stream_.fail(kConnAborted);
        return false;
    }
    int send(const char *data, std::size_t len, Deadline deadline) override {
        return stream_.send(data, len, deadline) ? static_cast<int>(len) : -1;
    }
    int receive(char *buf, std::size_t len, Deadline deadline) override { return stream_.recv(buf, len, deadline); }
    void close_notify(Deadline deadline) override { stream_.close_notify(deadline); }
    int error() const override { return stream_.error(); }
    // SChannel resumes from its own cache of the process's sessions, by the
    // target name; the certificate is judged by the library on every
    // handshake all the same, so a resumed session keeps the peer's checks.
    bool resumed() const override {
        SecPkgContext_SessionInfo info{};
        auto *context = const_cast<CtxtHandle *>(stream_.context());
        return ready_ && ::QueryContextAttributesA(context, SECPKG_ATTR_SESSION_INFO, &info) == SEC_E_OK &&
               (info.dwFlags & SSL_SESSION_RECONNECT) != 0;
    }

private:
    schannel::Stream stream_;
    TlsPeer peer_;
    HCERTSTORE cas_ = nullptr;
    bool ready_ = false;  // the handshake finished and the session is in use
};

}  // namespace

std::unique_ptr<TlsSession> make_tls_session(Wire &wire, const TlsPeer &peer, std::string &why) {
    auto session = std::make_unique<SchannelSession>(wire, peer);
    if (peer.verify && !peer.ca_file.empty() && !session->load_cas(why)) return nullptr;
    return session;
}

}  // namespace vellor::transport
