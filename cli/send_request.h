// One `vellor send` as a value: the options its flags give, and the send
// they describe. The send command fills them from its command line; the
// sendmail command and the queue flush fill them from an account (see
// account_send.h) and their own arguments, then send the same way.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "oauth2_token.h"

namespace cli {

struct SendOptions {
    std::string server, server_ip, from, message, extension, helo, user, password_file, app = "vellor", ca_file, log;
    std::string dkim_domain, dkim_selector, dkim_key, dsn_notify, dsn_return, dsn_envid;
    std::string password_cmd;              // an account's command printing the password
    std::optional<std::string> text;       // the message itself, already read (sendmail)
    std::vector<std::string> to, options;  // --option NAME=VALUE, in order
    TokenSource token;
    int port = 0, max = 0, timeout = 0, parallel = 0;  // port 0: by the TLS flag (465, 587), else 25
    bool from_stdin = false, envelope = false, remove = false, quiet = false, verbose = false, json = false;
    bool starttls = false, tls = false, no_tls = false, no_verify = false, raw = false, progress = false;
    bool ipv4 = false, ipv6 = false;  // one family only (default: both raced)
    bool no_pipelining = false;       // neither Pipelining nor Chunking (used when the server offers them)
};

// The whole send: checks, message, login data, one call (and one more after
// a refused token that a command can refresh); the exit status.
int run_send(const SendOptions &o);

}  // namespace cli
