// Envelope delivery by MX: sender and
// recipients come from each message's envelope file. One message with
// several recipients gets a connection per recipient; one with a single
// recipient a connection made here; a directory pass looks a domain up again
// only when it changes from the previous recipient's. A domain is reached
// through its exchanger of lowest preference (its own address only without one).
#include "msgfiles/message_details.h"
#include "smtp/transaction.h"
#include "submit/delivery.h"
#include "submit/message_in_hand.h"
#include "submit/message_turn.h"
#include "submit/queue_pass.h"
#include "submit/mx_steps.h"
#include "submit/recipient_loop.h"
#include "msgfiles/recipients.h"
#include "support/text.h"
#include "transport/companion.h"
#include "support/report_texts.h"

namespace vellor {
namespace {

// One recipient of an envelope with several (its number `j`, from 0): its
// domain resolved, then the message by a connection of its own; counted in
// `sent` when it took it.
Turn envelope_recipient(Delivery &c, int j, uint32_t &offset, int &sent) {
    SMTPSEND_STRUCTURE *r = c.req;
    std::string addr;
    EnvelopeRecipient got = next_envelope_recipient(c, offset, addr);
    if (got != EnvelopeRecipient::Found) return got == EnvelopeRecipient::Unfit ? Turn::Leave : Turn::Stop;
    c.hand.server = domain_of(addr);
    (void)show_in_record(c);  // part of a field as large: fits
    if (!resolve_exchanger(c, texts::kUnableToSend)) return Turn::Leave;
    c.set_host_address(field_text(r->szServerIP));  // the record shows the address in hand
    c.report(Where::both, 921, 0, format(texts::kResolved, c.hand.server.c_str(), c.hand.server_ip.c_str()));
    c.set_port(r->nPort);
    c.hand.attempt = j + 1;
    (void)show_in_record(c);
    c.report(Where::both, 921, 0, format(texts::kSendingFor, addr.c_str(), c.hand.server_ip.c_str()));
    if (deliver_message(c, 1) == 0) {
        show_messages_sent(c, c.messages_sent + 1);
        ++sent;
        c.report(Where::both, 921, 0, format(texts::kSentForTo, c.hand.recipient.c_str(), c.hand.server_ip.c_str()));
    }
    return Turn::Next;
}

// Envelope with several recipients: each by its own connection.
int envelope_recipients(Delivery &c) {
    SMTPSEND_STRUCTURE *r = c.req;
    int sent = 0;
    const int expected = r->nRecipients;
    uint32_t offset = 0;
    if (each_recipient(c, [&](int j) { return envelope_recipient(c, j, offset, sent); }) == Turn::Leave) return -1;
    if (sent < expected) {
        c.report(Where::both, 920, r->nErrorCode, format(texts::kSentToSomeKept, sent, expected));
        return -1;
    }
    c.report(Where::both, 921, 0, texts::kSentToAll);
    return 0;
}

// Envelope with one recipient: one connection made here.
int envelope_single(Delivery &c) {
    SMTPSEND_STRUCTURE *r = c.req;
    const std::string domain = domain_of(c.hand.recipient);
    c.hand.server = domain;
    (void)show_in_record(c);  // part of a field as large: fits
    c.report(Where::both, 921, 0, format(texts::kResolvingSingleDomain, domain.c_str()));
    if (!resolve_exchanger(c, texts::kUnableToSend)) return -1;
    c.report(Where::both, 921, 0, format(texts::kResolved, domain.c_str(), c.hand.server_ip.c_str()));
    c.report(Where::both, 921, 0, format(texts::kTryingServer, c.hand.server.c_str(), c.hand.server_ip.c_str()));
    if (!c.connect(1)) {
        connection_failed(c, "", false);
        return -1;
    }
    report_connected(c, "");
    report_size(c, "");
    if (Send_Queued_Messages(c, 0) == 0) {
        c.report(Where::both, 922, 0, format(texts::kMxSentTo, c.hand.recipient.c_str()));
    } else {
        c.report(Where::both, 920, 907, format(texts::kFailedTo, c.hand.recipient.c_str()));
        c.report(Where::both, 920, 907, format(texts::kErrorReturned, r->nErrorCode));
    }
    c.close_socket();
    c.report(Where::log_prefixed, 0, 0, texts::kClosed);
    c.report(Where::both, 921, 0, texts::kCompleted);
    return 0;
}

enum class Pass { Next, End, Abort };

// One recipient of the directory pass: resolve when the domain changed,
// then one transaction with its own connection.
Pass pass_recipient(Delivery &c, const std::string &addr, int &sent, MessageFile &file) {
    SMTPSEND_STRUCTURE *r = c.req;
    std::string domain = domain_of(addr);
    if (!equal_nocase(domain, c.hand.server) || c.hand.server_ip.empty()) {
        c.hand.server = domain;
        if (!show_in_record(c)) {  // from an envelope line, which may be longer
            c.unfit(912, texts::kEnvelopeDomainField, sizeof r->szServer);
            return Pass::Next;
        }
        if (!resolve_exchanger(c, texts::kUnableToSend)) {
            c.close_socket();
            return Pass::Abort;
        }
    }
    c.set_host_address(field_text(r->szServerIP));  // the record shows the address in hand
    c.report(Where::both, 921, 0, format(texts::kResolved, c.hand.server.c_str(), c.hand.server_ip.c_str()));
    c.set_port(r->nPort);
    if (deliver_message(c, 1, &file) == 0) {
        show_messages_sent(c, c.messages_sent + 1);
        ++sent;
    }
    return Pass::Next;
}

// One message of the pass; its file goes only when every recipient took it.
Pass pass_message(Delivery &c, int &sent, MessageFile &file) {
    SMTPSEND_STRUCTURE *r = c.req;
    if (!r->hRecipients) {
        const std::string rcpt = c.hand.recipient;
        if (rcpt.find('@') == std::string::npos) return Pass::End;
        c.hand.server.clear();  // a single recipient is always looked up
        (void)show_in_record(c);
        return pass_recipient(c, rcpt, sent, file);
    }
    uint32_t offset = 0;
    Pass p = Pass::Next;
    each_recipient(c, [&](int) {
        std::string addr;
        EnvelopeRecipient got = next_envelope_recipient(c, offset, addr);
        if (got == EnvelopeRecipient::Ended) p = Pass::End;
        if (got != EnvelopeRecipient::Found) return Turn::Stop;  // an unfit one: the message stays
        p = pass_recipient(c, addr, sent, file);
        return p == Pass::Abort ? Turn::Leave : p == Pass::Next ? Turn::Next : Turn::Stop;
    });
    return p;
}

int envelope_directory(Delivery &c) {
    std::string dir = c.hand.file;
    c.report(Where::callback, 921, 0, format(texts::kWaitingCount, count_queued(c, dir)));
    QueuePass pass;
    pass.envelopes = true;
    pass.send = [](Lane &lane, MessageFile &file) {  // claimed for all of the message's recipients
        Pass p = pass_message(lane.call, lane.accepted, file);
        return p == Pass::Abort ? EntryResult::Abort : p == Pass::End ? EntryResult::Stop : EntryResult::Failed;
    };
    PassCount n = run_queue_pass(c, dir, pass);
    if (n.aborted) return -1;
    return n.seen > 0 && n.accepted == 0 ? -1 : 0;
}

}  // namespace

int mx_envelope(Delivery &c) {
    SMTPSEND_STRUCTURE *r = c.req;
    c.report(Where::both, 921, 0, texts::kViaMxEnvelope);
    r->bViaMX = 1;
    if (c.hand.source.queued) return envelope_directory(c);
    int got = read_message_details(r, &envelope_of(c));
    take_from_record(c);  // the envelope's sender and recipient
    if (got == -1 && r->nErrorCode == 902) return c.unfit(902, texts::kEnvelopeSenderField, sizeof r->szSender);
    if (got == -1) {
        c.report(Where::callback, 920, 912, texts::kEnvelopeUnresolved);
        r->nErrorCode = 912;
        return -1;
    }
    return r->nRecipients != 1 ? envelope_recipients(c) : envelope_single(c);
}

}  // namespace vellor
