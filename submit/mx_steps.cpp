// Steps and reports shared by the MX delivery procedures: the message size
// shown in texts, the host-name lookup of a recipient's domain, and the
// connection reports.
#include "submit/mx_steps.h"

#include <map>
#include <set>

#include "msgfiles/message_details.h"
#include "platform/files.h"
#include "resolve/idn.h"
#include "smtp/transaction.h"
#include "support/text.h"
#include "transport/companion.h"

namespace vellor {

long message_size(SMTPSEND_STRUCTURE *r) {
    int64_t size = 0;
    return files::file_size(field_text(r->szMessageFile), size) ? static_cast<long>(size) : 0;
}

std::string connect_target(SMTPSEND_STRUCTURE *r) {
    return empty(r->szServerIP) ? field_text(r->szServer) : field_text(r->szServerIP);
}

// Host-name lookup of szServer into szServerIP; false after the failure
// reports (906 stored).
bool resolve_domain(Call &c, const char *abort_line) {
    SMTPSEND_STRUCTURE *r = c.req;
    std::string address;
    if (transport::resolve_host(c.block, c.session, idn::to_ascii(field_text(r->szServer)), address) &&
        set_field(r->szServerIP, address))
        return true;
    domain_unresolved(c, abort_line);
    return false;
}

void domain_unresolved(Call &c, const char *abort_line) {
    SMTPSEND_STRUCTURE *r = c.req;
    c.log(c.prefixed("Unable to resolve IP address from Recipient's domain..."));
    c.log(c.prefixed(abort_line));
    c.status(920, 909,
             format("Unable to resolve recipient's domain of [%s] - Send aborted", field_text(r->szServer).c_str()));
    r->nErrorCode = 906;
}

void report_size(const Reporter &c, const std::string &num) {
    SMTPSEND_STRUCTURE *r = c.req;
    c.log_and_status(921, 0,
                     num + format("Sending message of [%ld bytes] from [%s] to [%s]", message_size(r),
                                  field_text(r->szSender).c_str(), field_text(r->szRecipient).c_str()));
}

void report_connected(const Reporter &c, const std::string &num) {
    SMTPSEND_STRUCTURE *r = c.req;
    c.log_and_status(
        921, 0,
        num + format("Connected to [ %s - %s ]", field_text(r->szServer).c_str(), field_text(r->szServerIP).c_str()));
}

// Reports a failed connection of a list or envelope delivery; stores 907.
void connection_failed(Call &c, const std::string &num, bool last_unprefixed) {
    SMTPSEND_STRUCTURE *r = c.req;
    r->nWinsockError = c.session->nLastError;
    c.log_and_status(920, 907, num + format("Unable to make a connection to [%s]", connect_target(r).c_str()));
    if (transport::addresses(c.session) > 1)
        c.log_and_status(920, 907,
                         num + format("Connection(s) attempted on %d IP Addesses", transport::addresses(c.session)));
    std::string last =
        num + format("Unable to connect to SMTP server [%s], send aborted...", field_text(r->szServer).c_str());
    if (last_unprefixed) {
        c.log(last);
        c.status(920, 907, last);
    } else {
        c.log_and_status(920, 907, last);
    }
    r->nErrorCode = 907;
}

void HeldFiles::hold(const std::string &name, const MessageFile &file) {
    files_.push_back({name, file.path(), file.stamp()});
}

namespace {

// The file every recipient took, removed when it is still that version, with
// its envelope; false when it is not.
bool remove_held(Call &c, const std::string &name, const std::string &path, const files::Stamp &sent) {
    files::Stamp at;
    if (!files::stamp_at(path, at) || !(at == sent) || !files::remove_exact(path)) return false;
    if (!c.req->bUseEnvFile) return true;
    std::string env = envelope_path_of(name);
    if (files::exists(env)) files::remove(env);
    return true;
}

}  // namespace

void HeldFiles::release(int expected) {
    c_.held = nullptr;
    std::map<std::string, int> accepted;
    std::map<std::string, const Held *> first;
    std::set<std::string> versions_differ;
    for (const Held &f : files_) {
        accepted[f.name] += 1;
        auto [at, fresh] = first.emplace(f.name, &f);
        if (!fresh && !(at->second->stamp == f.stamp && at->second->path == f.path)) versions_differ.insert(f.name);
    }
    for (const auto &[name, count] : accepted) {
        const Held &f = *first[name];
        if (count < expected)
            c_.log_and_status_prefixed(
                920, c_.req->nErrorCode,
                format("Message [%s] kept: accepted for %d of %d recipient(s)", name.c_str(), count, expected));
        else if (versions_differ.count(name) || !remove_held(c_, name, f.path, f.stamp))
            c_.log_and_status_prefixed(921, 0, format(kChangedWhileSent, name.c_str()));
    }
    files_.clear();
}

}  // namespace vellor
