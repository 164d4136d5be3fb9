// Steps and reports shared by the MX delivery procedures.
#pragma once
#include <string>
#include <vector>

#include "msgfiles/message_details.h"
#include "submit/delivery_context.h"
#include "submit/message_file.h"

namespace vellor {

// Size in bytes of the message file in hand, 0 when it cannot be read
// (hMessage).
long message_size(const Delivery &c);
// The server's address in hand, or its name when the address is empty.
std::string connect_target(const Delivery &c);
// Host-name lookup of the server in hand into its address, the connection
// aimed at it (the AddressFamily option's route with it; an address literal
// stands for itself); false after the failure reports (906 stored),
// abort_line being the second log line.
bool resolve_domain(Delivery &c, const char *abort_line);
// The exchanger of szServer's domain into the address in hand, the
// connection aimed at it: the MX of lowest preference with an address; the
// domain's own address only when it has no exchanger (or is an address
// literal). false after resolve_domain's failure reports, or (907 stored)
// when under SecureConnection 4 DANE or MTA-STS refuse it; the TLS it gets
// is chosen into the message in hand (submit/exchanger_security.h).
bool resolve_exchanger(Delivery &c, const char *abort_line);
// The failure reports of resolve_domain (906 stored).
void domain_unresolved(Delivery &c, const char *abort_line);
// "[n] - " prefixed (num may be empty) size and connection reports.
void report_size(const Delivery &c, const std::string &num);
void report_connected(const Delivery &c, const std::string &num);
// Reports a failed connection; stores nWinsockError and 907.
void connection_failed(Delivery &c, const std::string &num, bool last_unprefixed);

// One message for several recipients, a transaction each: while this
// lives, accepted files are not removed. release() removes every file that
// all `expected` recipients accepted, each the same version that is on disk
// now, and reports the others as kept, so a file goes only after the last
// recipient's final 250.
struct HeldFiles {
public:
    explicit HeldFiles(Delivery &c) : c_(c) { c.held = this; }
    ~HeldFiles() { c_.held = nullptr; }
    HeldFiles(const HeldFiles &) = delete;
    HeldFiles &operator=(const HeldFiles &) = delete;
    // `name` as the record gives it, accepted as `file` is now.
    void hold(const std::string &name, const MessageFile &file);
    void release(int expected);

private:
    struct Held {
        std::string name, path;
        files::Stamp stamp;
        EnvelopeSeen envelope;
    };
    Delivery &c_;
    std::vector<Held> files_;
};

}  // namespace vellor
