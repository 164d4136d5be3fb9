// One send call's context as the session and the delivery procedures see
// it: the reports (support/report.h), the connection to the server with the
// companion's block and record (transport/connection.h), the login state (smtp/auth_encode.h), and what a
// delivery to several recipients asks of the session, and the queue pass's
// read-ahead (smtp/read_ahead.h).
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "smtp/auth_encode.h"
#include "smtp/ehlo.h"
#include "smtp/read_ahead.h"
#include "support/options.h"
#include "support/report.h"
#include "transport/connection.h"

namespace vellor {
namespace smtp::dkim {
struct Signer;
}

struct Call : Reporter, transport::Connection {
    LoginState login;

    // While set, a message file accepted by the server is listed here
    // instead of removed: the delivery removes it once every recipient it
    // was meant for has accepted it.
    std::vector<std::string> *held_files = nullptr;

    // The connection's server offered PIPELINING in its EHLO reply.
    bool peer_pipelines = false;
    // What the connection's EHLO reply offered (nothing after HELO).
    smtp::Offers offers;

    // While set, the message options of a queue pass, read once when the
    // pass began; each transaction reads them afresh otherwise.
    const options::MessageOptions *pass_options = nullptr;

    // The next message of a queue pass, read in the wait for the current
    // one's final reply (see smtp/read_ahead.h).
    smtp::ReadAhead read_ahead;

    // The DKIM signer of this send, when the options ask for one
    // (smtp/dkim_sign.h): every message goes out signed.
    std::shared_ptr<const smtp::dkim::Signer> dkim;
};

}  // namespace vellor
