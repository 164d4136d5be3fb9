// The capture SMTP server (aiosmtpd, tests/servers/capture_smtpd.py) started
// on a loopback address and free port, stopped by its process id; what it
// stored is read back from its Maildir.
#pragma once
#include <string>
#include <vector>

#include "test_env.h"

namespace testenv {

// The files of a Maildir folder in name (arrival) order: the JSON envelope
// files or the messages.
std::vector<std::string> maildir_files(const std::string &dir, bool json);

class CaptureServer {
public:
    CaptureServer(const std::string &dir, const char *address = "127.0.0.1", int port = 0, const std::string &user = "",
                  const std::string &password = "");
    ~CaptureServer() { proc_.stop(); }
    bool ready() const { return ready_; }
    int port() const { return port_; }
    std::vector<std::string> messages() const;    // stored bodies, in arrival order
    std::vector<std::string> recipients() const;  // the envelope of each, as JSON text
    int sessions() const;                         // HELO commands seen
    int logins(bool success) const;

private:
    std::string root_;
    int port_;
    bool ready_ = false;
    Process proc_;
};

}  // namespace testenv
