// TLS test servers: the certificates the fixture makes with the openssl tool
// (once per test folder), and a real TLS SMTP server on loopback, either
// aiosmtpd (tests/servers/capture_smtpd.py --tls) or the Node smtp-server package
// (tests/servers/node/tls_smtpd.js), started on a free port of 127.0.0.1 (or ::1) and stopped by
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

// A TLSA record's data for the certificate in a PEM file, made with the
// openssl tool: selector 0 the certificate, 1 its public key (DER);
// matching 0 as is, 1 SHA-256, 2 SHA-512. Empty when openssl failed.
std::string tlsa_data(const std::string &pem, int selector, int matching);

// An HTTPS server for MTA-STS policies (tests/servers/policy_https.py) on
// 127.0.0.1, answering the text as /.well-known/mta-sts.txt with the
// certificate certs/mta-sts.pem, until stopped.
class PolicyServer {
public:
    PolicyServer(const std::string &dir, const std::string &certs, const std::string &text, int port);
    bool ready() const { return ready_; }
    void stop() { proc_.stop(); }

private:
    bool ready_ = false;
    Process proc_;
};

class TlsServer {
public:
    enum class Kind { Aiosmtpd, Node, Sink };
    // mode: starttls, implicit, nostarttls or refuse (aiosmtpd only for the
    // last two); for smtp-sink one of its flags (-8: no 8BITMIME) or "all".
    TlsServer(const std::string &dir, Kind kind, const std::string &mode, const std::string &certs,
              const std::string &cert_name, int port, const std::string &user, const std::string &password,
              const std::string &host = "127.0.0.1");
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
