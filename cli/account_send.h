// An account from the accounts file turned into the options of a send: the
// relay, its TLS and certificates, the login (by command only), the sender
// and the DKIM signature. Options the command line gave win over the account.
#pragma once
#include <functional>
#include <optional>
#include <string>

#include "accounts.h"
#include "send_request.h"

namespace cli {

// Fills what the account says into `o`, except the options for which
// `given(flag)` is true ("--server", "--port", "--starttls", ...).
void apply_account(const Account &a, SendOptions &o, const std::function<bool(const char *)> &given);

// The password an account's password_cmd prints (its first line), waited
// for at most the send's time-out; nullopt with the reason.
std::optional<std::string> password_from_command(const std::string &command, std::string &error);

}  // namespace cli
