// Delivery through the relay server named in the request: one message (or a
// message directory without envelopes) with Send_Queued_Messages, and the
// envelope directory relay, every queued message with its own envelope over
// one connection (a message that fails is skipped, see the queue pass).
// szServerIP, when given, is used as it is, without a
// lookup of szServer; so is an address literal in szServer (IPv6 with or
// without brackets). The relay's name is looked up by the AddressFamily
// option (resolve/address_choice.h).
#include "resolve/address_choice.h"
#include "resolve/idn.h"
#include "smtp/transaction.h"
#include "submit/delivery.h"
#include "submit/message_in_hand.h"
#include "submit/message_turn.h"
#include "submit/queue_pass.h"
#include "submit/mx_steps.h"
#include "msgfiles/recipients.h"
#include "support/address_literal.h"
#include "support/error_text.h"
#include "support/text.h"
#include "transport/companion.h"
#include "support/report_texts.h"

namespace vellor {
namespace {

// A list of one recipient, with szRecipient empty, is copied into it;
// false after the report when it does not fit.
bool copy_single_list(Delivery &c) {
    SMTPSEND_STRUCTURE *r = c.req;
    if (r->nRecipients != 1 || !r->hRecipients || !c.hand.recipient.empty() || r->bUseEnvFile) return true;
    std::string text = read_locked_list(r);
    if (!r->lpRecipients) return true;
    c.hand.recipient = text;
    if (show_in_record(c)) return true;
    c.unfit(912, texts::kListEntryField, sizeof r->szRecipient);
    return false;
}

// The relay's addresses by the family: "4" and "auto" through the classic
// lookup (the address shown in szServerIP), "auto" with the name's IPv6
// addresses after it failed or when it has no IPv4 one; "6" and "any"
// through the lookup of both families. False when none was found.
bool relay_addresses(Delivery &c, const std::string &name, std::string &address, transport::Route &route) {
    if (c.family == options::Family::V4 || c.family == options::Family::Auto) {
        if (c.resolve_host(name, address)) {
            if (c.family == options::Family::Auto) route.fallback_v6 = {name};
            return true;
        }
        if (c.family == options::Family::V4) return false;
    }
    resolve::Attempt a;
    if (!resolve::name_attempt(name, c.family == options::Family::Auto ? options::Family::V6 : c.family, a))
        return false;
    address = a.addresses.front();
    route.addresses = a.addresses;
    route.stagger_ms = a.stagger_ms;
    return true;
}

// Resolves szServer into szServerIP for the relay send (an address literal
// stands for itself); false on failure.
bool resolve_relay(Delivery &c, transport::Route &route) {
    SMTPSEND_STRUCTURE *r = c.req;
    const std::string server = c.hand.server;
    c.report(Where::both, 921, 0, format(texts::kResolvingServer, server.c_str()));
    std::string literal = literal_address(server, true), address;
    if (transport::family_of(literal) == 6)  // an IPv4 one is looked up as it always was
        address = c.family == options::Family::V4 ? "" : literal;
    else if (!relay_addresses(c, idn::to_ascii(server), address, route))
        address.clear();
    if (address.empty()) {
        c.report(Where::log_prefixed, 0, 0, format(texts::kServerUnresolved, server.c_str()));
        c.report(Where::both, 920, 909, texts::kUnableToSend);
        r->nErrorCode = 906;
        return false;
    }
    c.hand.server_ip = address;
    if (!show_in_record(c)) {
        c.unfit(907, texts::kRelayAddressField, sizeof r->szServerIP);
        return false;
    }
    if (!equal_nocase(server, address) && literal != address)
        c.report(Where::both, 921, 0, format(texts::kResolved, server.c_str(), address.c_str()));
    return true;
}

}  // namespace

int relay_send(Delivery &c) {
    SMTPSEND_STRUCTURE *r = c.req;
    c.relay = true;  // its sessions may be kept between calls
    if (!copy_single_list(c)) return -1;
    transport::Route route;
    if (c.hand.server_ip.empty() && !resolve_relay(c, route)) return -1;
    c.aim(c.hand.server_ip, r->nPort, route);
    if (Send_Queued_Messages(c, 1) == 0) {
        c.report(Where::both, 922, 0, format(texts::kSendOfCompleted, c.messages_sent));
        return 0;
    }
    c.report(Where::both, 920, 907, format(texts::kFailedTo, c.hand.recipient.c_str()));
    (void)set_field(r->szErrorText, error_text(r->nErrorCode));  // every text fits
    c.report(Where::both, 920, 907, format(texts::kErrorCause, r->nErrorCode, field_text(r->szErrorText).c_str()));
    return -1;
}

int relay_envelope_directory(Delivery &c) {
    SMTPSEND_STRUCTURE *r = c.req;
    c.relay = true;
    std::string dir = c.hand.file;
    c.report(Where::callback, 921, 0, format(texts::kWaitingCountMaybe, count_queued(c, dir)));
    bool started = false;  // the search found an entry and the relay is known
    QueuePass pass;
    pass.envelopes = true;
    pass.start = [&] {
        if (!c.hand.server.empty() && c.hand.server_ip.empty()) {
            const std::string server = c.hand.server;
            c.report(Where::both, 921, 0, format(texts::kResolvingDomain, server.c_str()));
            if (!resolve_domain(c, texts::kUnableToSend)) return false;  // the MX path's lookup step
            c.report(Where::both, 921, 0, format(texts::kResolved, server.c_str(), c.hand.server_ip.c_str()));
        }
        c.set_host_address(field_text(r->szServerIP));  // the record shows the address in hand
        return started = true;
    };
    pass.send = [](Lane &lane, MessageFile &file) {
        Delivery &l = lane.call;
        l.set_port(l.req->nPort);
        BatchResult result = deliver_batch_message(lane, file);
        if (result == BatchResult::SessionFailed) return EntryResult::Stop;
        if (result == BatchResult::InFlight) return EntryResult::InFlight;  // counted once accepted
        if (result != BatchResult::Sent) return EntryResult::Failed;
        show_messages_sent(l, l.messages_sent + 1);
        return EntryResult::Sent;
    };
    pass.finish = [&started](Lane &lane) {
        if (!started) return;
        unsigned sock = lane.call.socket();
        if (close_batch_connection(lane.call))
            lane.call.report(Where::both, 921, 0, format(texts::kTcpSocketClosed, static_cast<long>(sock)));
    };
    PassCount n = run_queue_pass(c, dir, pass);
    if (!n.found) return 0;
    if (n.aborted) return -1;
    return n.seen > 0 && c.messages_sent == 0 ? -1 : 0;
}

}  // namespace vellor
