// TLS test servers: the certificates the fixture makes with the openssl tool
// (once per test folder), and a real TLS SMTP server on loopback, either
// aiosmtpd (tests/servers/capture_smtpd.py --tls) or the Node smtp-server package
// (tests/servers/node/tls_smtpd.js), started on a free port and stopped by
// process id; what it stored and the command verbs it received are read back.
// Beside them, Postfix's smtp-sink (no TLS) for its own list of extensions:
// its dumps, each beginning with the transaction's HELO, MAIL and RCPT
// arguments, are its messages.
#pragma once
#include <string>
#include <vector>

#include "test_env.h"

namespace testenv {

// Makes ca.pem, server, wrong, expired and self (.pem/.key) under dir/certs;
// the folder, or empty when openssl failed.
std::string make_certificates(const std::string &dir);

class TlsServer {
public:
    enum class Kind { Aiosmtpd, Node, Sink };
    // mode: starttls, implicit, nostarttls or refuse (aiosmtpd only for the
    // last two); for smtp-sink one of its flags (-8: no 8BITMIME) or "all".
    TlsServer(const std::string &dir, Kind kind, const std::string &mode, const std::string &certs,
              const std::string &cert_name, int port, const std::string &user, const std::string &password);
    ~TlsServer() { proc_.stop(); }
    bool ready() const { return ready_; }
    std::vector<std::string> messages() const;
    int count(const std::string &verb) const;

private:
    std::string root_;
    bool ready_ = false;
    Process proc_;
};

}  // namespace testenv
