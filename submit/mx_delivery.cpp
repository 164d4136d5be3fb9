// Delivery straight to the recipients' mail exchangers (no relay server):
// (with several recipients a message file is removed only after every one of
// them accepted it, and the call fails when any did not)
//  a recipient list - one recipient and one connection after another, each
//                     domain's exchanger (the MX of lowest preference that
//                     has an address; the domain's own address only when it
//                     has none) dialled once;
//  a single recipient - its domain's MX addresses tried in turn;
//  the one recipient of a list of one - the same.
// Envelope delivery is in mx_envelope_delivery.cpp.
// Decisions of this library: a single recipient without '@' has an empty
// domain, so its lookup fails with the usual reports; the text of a list of
// one is cut to the address between '<' and '>' when it holds both.
#include "resolve/address_choice.h"
#include "resolve/resolve_recipient_mx.h"
#include "smtp/transaction.h"
#include "submit/delivery.h"
#include "submit/exchanger_security.h"
#include "submit/message_in_hand.h"
#include "submit/mx_steps.h"
#include "submit/recipient_loop.h"
#include "msgfiles/recipients.h"
#include "support/address_literal.h"
#include "support/text.h"
#include "transport/companion.h"
#include "support/report_texts.h"

namespace vellor {
namespace {

enum class CloseAfterSend { Yes, No };

// The attempts of a single recipient: the IPv4 addresses of the MX
// resolution, each alone, unless the family is "6" or "any" (an exchanger
// attempt has its host set).
std::vector<resolve::Attempt> classic_attempts(const Delivery &c) {
    std::vector<resolve::Attempt> out;
    if (c.family == options::Family::V6 || c.family == options::Family::Any) return out;
    for (int k = 0; k < std::min<int>(c.req->nMxIPAddresses, 8); ++k)
        out.push_back({{field_text(c.req->szMxIPAddress[k])}, 0, ""});
    return out;
}

// Aims the connection at an attempt's addresses; the text its reports name.
std::string aim_at(Delivery &c, const resolve::Attempt &a) {
    if (a.host.empty()) {  // an address of the MX resolution, dialled as it always was
        c.aim(a.addresses.front(), c.req->nPort);
        return c.host_address();
    }
    c.aim(a.addresses.front(), c.req->nPort, {"", a.addresses, a.stagger_ms, {}});
    std::string shown = a.addresses.front();
    for (std::size_t i = 1; i < a.addresses.size(); ++i) shown.append(texts::kListSeparator).append(a.addresses[i]);
    return shown;
}

// The MX address loop of a single recipient: true when an address took the
// message. Once the IPv4 addresses of its MX resolution failed, the
// exchangers' addresses of the send's other family are tried (looked up
// then), within kMostTried addresses in all. Each attempt gets the TLS
// `security` chooses for its exchanger, or is passed over.
bool mx_address_loop(Delivery &c, CloseAfterSend close_after_send, const MXQUERY_STRUCTURE &mx,
                     std::vector<resolve::Attempt> attempts, ExchangerSecurity &security) {
    SMTPSEND_STRUCTURE *r = c.req;
    bool more = c.family != options::Family::V4 && mx.nType == 15;
    std::size_t tried = 0;
    for (std::size_t k = 0; k < attempts.size() || more; ++k) {
        if (k == attempts.size()) {
            more = false;
            std::vector<resolve::Attempt> extra;
            c.aside([&] {
                extra = resolve::exchanger_attempts(mx, c.family, resolve::kMostTried - tried,
                                                    resolve::resolution_deadline());
            });
            attempts.insert(attempts.end(), extra.begin(), extra.end());
            if (k == attempts.size()) break;
        }
        tried += attempts[k].addresses.size();
        if (!security.arm(c, k, attempts[k])) continue;
        std::string target = aim_at(c, attempts[k]);
        if (!c.connect(1)) {
            r->nWinsockError = c.noted_error();
            c.report(Where::both, 920, 907, format(texts::kNoConnectionFor, target.c_str(), c.app.c_str()));
            if (c.address_count() > 1)
                c.report(Where::both, 920, 907, format(texts::kAttemptedFor, c.address_count(), c.app.c_str()));
            continue;
        }
        if (!attempts[k].host.empty()) {
            c.hand.server_ip = c.connected_address();
            (void)show_in_record(c);  // an IPv6 address leaves szServerIP empty
        }
        report_connected(c, "");
        report_size(c, "");
        if (Send_Queued_Messages(c, 0) == 0) {
            c.report(Where::both, 922, 0, format(texts::kMxSentTo, c.hand.recipient.c_str()));
            if (close_after_send == CloseAfterSend::Yes) {
                c.close_socket();
                c.report(Where::log, 0, 0, fill(texts::kClosedUnspaced, {c.app}));
                c.report(Where::callback, 921, 0, texts::kDashClosed);
            }
            return true;
        }
        c.report(Where::both, 920, 907, format(texts::kFailedToFor, c.hand.recipient.c_str(), c.app.c_str()));
        c.report(Where::both, 920, 907, format(texts::kErrorReturned, r->nErrorCode));
        c.close_socket();
        c.report(Where::log, 0, 0, fill(texts::kClosedUnspaced, {c.app}));
    }
    return false;
}

// Clears the work records and runs the send path's MX resolver on
// szServer; the exchangers' names, as szMxIPAddress holds their addresses.
int lookup_mx(Delivery &c, MXQUERY_STRUCTURE &mx, std::vector<std::string> &exchangers) {
    mx = MXQUERY_STRUCTURE{};
    VALIDMXIPS valid{};
    char dns[24] = {0};
    c.aside([&] { resolve_recipient_mx(c.req, &mx, &valid, dns); });
    for (int i = 0; i < c.req->nMxIPAddresses; ++i) exchangers.push_back(field_text(valid.szMxHost[i]));
    return valid.nValidIPs;
}

// A domain that is an address literal of the send's families: its one
// attempt, no MX lookup.
bool literal_attempt(const Delivery &c, const std::string &domain, std::vector<resolve::Attempt> &out) {
    std::string literal = literal_address(domain, false);
    int family = transport::family_of(literal);
    if (!family || (family == 6 && c.family == options::Family::V4) || (family == 4 && c.family == options::Family::V6))
        return false;
    out = {{{literal}, 0, literal}};
    return true;
}

void note_first_mx(Delivery &c) {
    c.hand.server_ip = field_text(c.req->szMxIPAddress[0]);
    (void)show_in_record(c);  // fits: a field as large
    c.report(Where::log_prefixed, 0, 0, texts::kMultipleAddresses);
}

}  // namespace

void mx_opening(Delivery &c) {
    SMTPSEND_STRUCTURE *r = c.req;
    if (r->bSingleRecipient && !empty(r->szRecipient) && !empty(r->szSender)) {
        const std::string rcpt = c.hand.recipient;
        c.report(Where::log_prefixed, 0, 0, texts::kPreparingViaMx);
        c.report(Where::log_prefixed, 0, 0, format(texts::kSendingTo, rcpt.c_str()));
        c.report(Where::callback_then_log, 921, 0, format(texts::kSendingTo, rcpt.c_str()));
        c.hand.server = domain_of(rcpt);
        (void)show_in_record(c);  // part of a field as large: fits
        r->nRecipients = 1;
    } else if (r->bMultipleRecipients && r->hRecipients) {
        c.report(Where::log_prefixed, 0, 0, texts::kSendingToRecipients);
    }
}

namespace {

// Recipient `i` (from 1) of the list: its domain's exchanger resolved and
// dialled, the message sent; a failed send counts in `failed`.
Turn list_recipient(Delivery &c, int i, int &failed) {
    SMTPSEND_STRUCTURE *r = c.req;
    std::string num = fill(texts::kNumbered, {std::to_string(i)});
    int selected = select_recipient(r, i);
    take_from_record(c);  // the entry and its domain
    if (selected == -1 && r->nErrorCode == 912) {
        c.unfit(912, texts::kListEntryShort, sizeof r->szRecipient);
        return Turn::Leave;
    }
    std::string t = num + format(texts::kResolvingRecipientsDomain, c.hand.server.c_str());
    c.report(Where::both_as_given, 921, 0, t);
    if (!resolve_exchanger(c, texts::kUnableToSendMail)) return Turn::Leave;
    t = num + format(texts::kResolved, c.hand.server.c_str(), c.hand.server_ip.c_str());
    c.report(Where::both_as_given, 921, 0, t);
    t = num + format(texts::kTryingServerName, c.hand.server.c_str());
    c.report(Where::both_as_given, 921, 0, t);
    if (!c.connect(1)) {
        connection_failed(c, num, true);
        return Turn::Leave;
    }
    report_connected(c, num);
    report_size(c, num);
    r->bViaMX = 1;
    if (Send_Queued_Messages(c, 0) == 0) {
        c.report(Where::both, 922, 0, num + format(texts::kMxSentTo, c.hand.recipient.c_str()));
    } else {
        ++failed;
        c.report(Where::log_prefixed, 0, 0, num + format(texts::kFailedToFor, c.hand.recipient.c_str(), c.app.c_str()));
        c.report(Where::both, 920, 907, num + format(texts::kErrorReturned, r->nErrorCode));
    }
    c.close_socket();
    c.report(Where::log_prefixed, 0, 0, num + texts::kClosed);
    c.report(Where::callback, 921, 0, texts::kDashClosed);
    return Turn::Next;
}

}  // namespace

int mx_recipient_list(Delivery &c) {
    SMTPSEND_STRUCTURE *r = c.req;
    c.report(Where::callback_then_log, 921, 0, format(texts::kViaMxTo, r->nRecipients));
    int failed = 0;
    if (each_recipient(c, [&](int k) { return list_recipient(c, k + 1, failed); }) == Turn::Leave) return -1;
    if (failed) {
        c.report(Where::both, 920, r->nErrorCode, format(texts::kCompletedFailed, failed, r->nRecipients));
        return -1;
    }
    c.report(Where::log_prefixed, 0, 0, texts::kCompleted);
    return 0;
}

namespace {

// The exchangers of szRecipient's domain tried in turn: 0 when one took the
// message; otherwise -1 with the failure's code and reports.
int mx_to_recipient(Delivery &c, CloseAfterSend close_after_send, int unresolved_code) {
    SMTPSEND_STRUCTURE *r = c.req;
    const std::string domain = domain_of(c.hand.recipient);
    c.hand.server = domain;
    (void)show_in_record(c);  // part of a field as large: fits
    c.report(Where::both, 921, 0, format(texts::kResolvingSingleDomain, domain.c_str()));
    MXQUERY_STRUCTURE mx{};
    std::vector<resolve::Attempt> attempts;
    std::vector<std::string> exchangers;
    bool literal = !literal_address(domain, false).empty();
    if (literal ? !literal_attempt(c, domain, attempts) : lookup_mx(c, mx, exchangers) < 1) {
        if (unresolved_code) r->nErrorCode = static_cast<int16_t>(unresolved_code);
        c.report(Where::both, 920, unresolved_code, format(texts::kDomainUnresolved, domain.c_str()));
        return -1;
    }
    if (literal) {
        c.hand.server_ip = attempts.front().addresses.front();
        (void)show_in_record(c);  // an IPv6 address leaves szServerIP empty
    } else {
        note_first_mx(c);
        attempts = classic_attempts(c);
    }
    c.set_port(r->nPort);
    if (close_after_send == CloseAfterSend::Yes)
        c.report(Where::both, 921, 0, format(texts::kTryingOnFor, c.hand.server_ip.c_str(), domain.c_str()));
    ExchangerSecurity security(c, literal ? std::string() : domain, exchangers);
    if (mx_address_loop(c, close_after_send, mx, attempts, security)) return 0;
    r->nErrorCode = c.protection_refused ? 907 : 919;  // DANE or MTA-STS refused one: the message stays
    c.report(Where::both, 920, r->nErrorCode, format(texts::kUnableToSendEmail, c.hand.recipient.c_str()));
    c.report(Where::both, 920, r->nErrorCode, format(texts::kRefusedByAll, r->nErrorCode));
    return -1;
}

}  // namespace

int mx_single_recipient(Delivery &c) {
    c.report(Where::both, 921, 0, texts::kViaMxSingle);
    if (mx_to_recipient(c, CloseAfterSend::Yes, 906) != 0) return -1;
    c.report(Where::log_prefixed, 0, 0, texts::kCompleted);
    return 0;
}

// A list of one fails as a single recipient does, the unresolved domain
// with code 906 (never 0): it never reports success for a message that went
// nowhere.
int mx_single_from_list(Delivery &c) {
    SMTPSEND_STRUCTURE *r = c.req;
    c.report(Where::both, 921, 0, texts::kViaMxOne);
    c.hand.recipient = bracket_cut(read_locked_list(r));
    if (!show_in_record(c)) return c.unfit(912, texts::kListEntryField, sizeof r->szRecipient);
    int result = mx_to_recipient(c, CloseAfterSend::No, 906);
    c.close_socket();
    c.report(Where::both, 921, 0, texts::kSocketClosed);
    if (result != 0) return -1;
    c.report(Where::log, 0, 0, fill(texts::kCompletedUnspaced, {c.app}));
    c.report(Where::callback, 921, 0, texts::kCompleted);
    return 0;
}

}  // namespace vellor
