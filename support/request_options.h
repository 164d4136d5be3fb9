// Options set on one request record (VELLOR_Set_Request_Option): the names
// the library knows, a check of each value by its kind, and the store that
// keeps them for the record, keyed by its address, guarded by one mutex. A
// record's values last until the next VELLOR_Initialize_Structure on it
// (the library's close-down forgets none: another thread may be about to
// send with them); they belong to the record's address, so a new record at
// the address of a freed one must be prepared with
// VELLOR_Initialize_Structure before use. An OAuth2Token is moreover bound
// to one login user (see token_user_agrees). A send takes its record's
// values once, at its start, as a value (values_of) that it carries through
// the call; the option readers (support/options.h) take a value of it
// before the options file's or the registry's. Relies on nothing but the
// standard library.
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace vellor::options {

using RequestValues = std::map<std::string, std::string>;

// The canonical spelling of a known option name (compared without regard
// to case), or nullopt.
std::optional<std::string> known_name(const std::string &name);

// The value as a send uses it (a choice as its number, a DSN keyword in
// upper case), or nullopt with the reason in `why`; the same check a
// record's value passes, for a value read from the options file.
std::optional<std::string> usable_value(const std::string &canonical_name, const std::string &value, std::string &why);

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
// The mark of the record's options: a number other than 0 given when its first
// option is set and kept until forget_record (0 before). The export writes it
// into the record's dwReserved2, so a byte copy of the record (which carries
// the mark to another address, where no options are) can be told.
uint32_t options_mark(const void *record);

// The record's values as they are now, by canonical name: a send takes them
// once when it starts, so a later VELLOR_Set_Request_Option does not reach
// a send already running.
RequestValues values_of(const void *record);

// The value `own` holds for a canonical name, or null.
const std::string *request_value(const RequestValues &own, const std::string &canonical_name);

}  // namespace vellor::options
