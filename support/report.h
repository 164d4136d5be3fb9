// One call's context and its report pairs. A report is a log line, a status
// callback, or both; most texts carry the prefix "VellorAPI [<app>] - ".
#pragma once
#include <string>
#include <vector>

#include "vellorapi.h"

namespace vellor {

struct Call {
    std::string app;
    SMTPSEND_STRUCTURE *req = nullptr;
    VELLOR_STATUS_CALLBACK cb = nullptr;
    TCPLIBRARY_STRUCTURE *block = nullptr;
    TCPSESSION_STRUCTURE *session = nullptr;

    // Login data of this call: encoded once per call, the caller's own texts
    // kept for AUTH PLAIN.
    bool auth_encoded = false;
    std::string plain_user, plain_password;
    std::string encoded_user, encoded_password;

    // While set, a message file accepted by the server is listed here
    // instead of removed: the delivery removes it once every recipient it
    // was meant for has accepted it.
    std::vector<std::string> *held_files = nullptr;

    // The connection's server offered PIPELINING in its EHLO reply.
    bool peer_pipelines = false;

    std::string prefixed(const std::string &text) const { return "VellorAPI [" + app + "] - " + text; }
    void log(const std::string &line) const;                       // log only
    void status(int st, int code, const std::string &text) const;  // callback only
    // Log "VellorAPI [app] - text", callback "text".
    void pair(int st, int code, const std::string &text) const;
    // Log and callback both "VellorAPI [app] - text".
    void both(int st, int code, const std::string &text) const;
    // Callback first, then the same text to the log.
    void status_then_log(int st, int code, const std::string &line) const;
};

}  // namespace vellor
