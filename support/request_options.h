// Options set on one request record (VELLOR_Set_Request_Option): the names
// the library knows, a check of each value by its kind, and a process-wide
// store keyed by the record's address, guarded by one mutex. A record's
// values last until the next VELLOR_Initialize_Structure on it or the
// library's close-down: they belong to the record's address, so a new record
// at the address of a freed one must be prepared with
// VELLOR_Initialize_Structure before use. An OAuth2Token is moreover bound
// to one login user (see token_user_agrees). A send copies its record's values once, at its
// start, into a scope of its own thread (RequestScope); the option readers
// (support/options.h) take a value of that scope before the options file's
// or the registry's. Relies on nothing but the standard library.
#pragma once
#include <map>
#include <optional>
#include <string>

namespace vellor::options {

// The canonical spelling of a known option name (compared without regard
// to case), or nullopt.
std::optional<std::string> known_name(const std::string &name);

// Takes the value for the record: true, or false with the reason in `why`
// (an unknown name, or a value the option cannot use; a token's value is
// never repeated in the reason). An empty value removes the record's own
// value, so the file's stands again. `login_user` is the record's szAuthUser
// when the value is given: a token is bound to it when it is not empty.
bool set_request_option(const void *record, const std::string &name, const std::string &value, std::string &why,
                        const std::string &login_user = "");
// False when the record's OAuth2Token is bound to another login user than
// `user`. A token not yet bound is bound here to the first non-empty user it
// is used with, so a token left by a freed record at the same address never
// logs in a record prepared without VELLOR_Initialize_Structure for a
// different user.
bool token_user_agrees(const void *record, const std::string &user);
// The send itself rewrote szAuthUser (a login leaves its Base64 form in the
// record): a token bound to `from` is bound to `to` from now on.
void token_user_moved(const void *record, const std::string &from, const std::string &to);
void forget_record(const void *record);
void forget_all_records();

// While alive, the option readers of this thread see the record's values,
// copied when the scope began (a later VELLOR_Set_Request_Option does not
// reach a send already running). Scopes nest: the inner one wins.
class RequestScope {
public:
    explicit RequestScope(const void *record);
    // The values given, on a thread of the send's own (see running_values).
    explicit RequestScope(std::map<std::string, std::string> values);
    ~RequestScope();
    RequestScope(const RequestScope &) = delete;
    RequestScope &operator=(const RequestScope &) = delete;

private:
    std::map<std::string, std::string> values_;
    const std::map<std::string, std::string> *outer_;
};

// The values of the running send's record (none outside a send), for a
// thread the send starts.
std::map<std::string, std::string> running_values();

// The value the running send's record holds for a canonical name, or null.
const std::string *request_value(const std::string &canonical_name);

}  // namespace vellor::options
