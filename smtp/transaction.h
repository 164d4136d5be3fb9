// One SMTP transaction per message, in two variants:
//  SMTP_Deliver_Message    - a whole conversation (connects when asked,
//                            QUIT and close at the end);
//  SMTP_Send_Batch_Message - one message of a batch over a connection kept
//                            open (the first call connects, greets and logs
//                            in; later calls start at MAIL FROM).
// Each says whether the server accepted the message; the message file, when
// there is one, is the delivery's (smtp/message_source.h): the session
// neither opens nor removes it.
#pragma once
#include <string>
#include <vector>

#include "smtp/envelope.h"
#include "smtp/exchange.h"
#include "smtp/message_source.h"
#include "smtp/session.h"
#include "support/options.h"

namespace vellor {
namespace dkim {
struct Signer;
}
namespace smtp {

// What the delivery hands the session for one transaction: the message (its
// file and server), its envelope (smtp/envelope.h), the message options read
// for it (once for a queue pass, else once for the message), and the signer
// when the send signs (every message then goes out signed).
struct Handoff {
    Message &message;  // its text read ahead is taken from it, once
    const Envelope &envelope;
    const options::MessageOptions &options;
    const dkim::Signer *signer = nullptr;
};

}  // namespace smtp

int SMTP_Deliver_Message(smtp::Session &session, const smtp::Handoff &handed, int connectFlag);

// One message of a batch, telling a failed message from a failed session.
// After a failed message the connection is ready for the next one (RSET
// answered) or closed (no socket) when it broke; the next message then
// connects again. A failed session (no connection, greeting, HELO or login)
// ends the batch. InFlight: the message went, its final reply is due
// (smtp/final_replies.h).
enum class BatchResult { Sent, MessageFailed, SessionFailed, InFlight };
BatchResult SMTP_Send_Batch_Message(smtp::Session &session, const smtp::Handoff &handed, int firstFlag);
// Ends a batch connection: QUIT, one read of the reply (neither judged),
// then the companion closes the socket. True when the close succeeded.
// `o`: the options of the batch's last message (its transcript, how long a
// session is kept).
bool SMTP_End_Batch(smtp::Session &session, const options::MessageOptions &o);

namespace smtp {

enum class Variant { Conversation, Batch };

// The message text of one transaction, checked before MAIL FROM and
// released with the transaction: a locked hMessage block (up to its first
// NUL), or an open message file streamed in blocks (never held whole).
class MessageBody {
public:
    MessageBody() = default;
    MessageBody(const MessageBody &) = delete;
    MessageBody &operator=(const MessageBody &) = delete;
    ~MessageBody();
    const char *data = nullptr;  // the text in memory (a block, or a small file read whole), else null
    std::string kept;            // a small file's text
    std::function<int64_t(char *, std::size_t, uint64_t)> read_at;  // the message file handed over, when streamed
    uint64_t size = 0;                                              // bytes of text before any stuffing
    bool stuff = false;                                             // lines beginning "." go out with one more
    dkim::Field dkim_field;  // the DKIM-Signature field sent ahead of the text, when signing
    bool eight_bit = false;  // the text holds a byte of 8 bits
    bool current = false;    // read from a file found unchanged since: no check before MAIL FROM
    HGLOBAL locked = nullptr;
};

// State of one transaction; `failed` is the one thread of control.
struct Transaction {
    Session &session;                     // the session it goes over
    Message &msg;                         // the message handed over (its file and server)
    const Envelope &env;                  // its envelope, as the delivery built it
    const options::MessageOptions &opts;  // the options the delivery read for it
    const dkim::Signer *signer;           // the send's signer, or none
    Variant variant;
    int flag;
    Exchange x;
    MessageBody body;
    bool failed = false;
    int unread_replies = 0;  // RCPT replies left unread after a refusal
    bool mail_sent = false;  // MAIL FROM went out: a batch must reset
    bool end_sent = false;   // the end-of-data line left with the body
    bool hold_end = false;   // the end-of-data line waits for the next commands (smtp/final_replies.h)
    bool in_flight = false;  // its final reply is due: the delivery hears of it through Session::settled
    std::string limit_line;  // the reply that failed it, when the server's connection limits explain it

    Transaction(Session &s, const Handoff &h, Variant v, int f);  // the dialogue shown when the Transcript option asks
    bool whole_conversation() const { return variant == Variant::Conversation; }
    // "VellorAPI [app] - [n] - text"
    std::string numbered(const std::string &text) const;
    // Log the numbered text, store the code, set the failed flag, report it.
    void fail(int code, const std::string &text);
};

// The dialogue reporter when the Transcript option is on, else nothing.
std::function<void(int, const std::string &)> dialogue_of(Session &session, bool on);

// Message data (message_data.cpp).
bool check_message_source(Transaction &t);  // false: -1 with 910
bool prepare_body(Transaction &t);          // false after the failure report
void send_body(Transaction &t);             // sets t.failed on failure

// Login (login.cpp, login_mechanisms.cpp, auth_encode.cpp).
bool has_login(const Transaction &t);  // a user name, and a password or a token
void encode_login_data(Transaction &t);
void login_conversation(Transaction &t);
void login_batch(Transaction &t);
void login(Transaction &t);  // by the server's AUTH list under EHLO, else the variant's own
// Under EHLO: the mechanism from the server's AUTH list; false when the
// variant's classic login is to run instead (no AUTH list, nothing forced).
bool login_by_server_list(Transaction &t);
void login_accepted(Transaction &t);
// AUTH LOGIN's two lines after its "334": false (917 reported) when the
// user name is not answered "334", and then the password is not sent.
bool login_user_then_password(Transaction &t);

// The greeting command and what follows it (transaction.cpp); the name it
// gives (szHeloDomain, the sender's domain, or the fall-back); what an EHLO
// reply offers (PIPELINING is kept for the connection).
void step_helo(Transaction &t, const char *verb);
std::string hello_name(Transaction &t);
void note_extensions(Transaction &t);

// The envelope steps' judgments and reports, shared by the lockstep and the
// pipelined dialogue (transaction.cpp).
bool mail_reply_ok(const Exchange &x);
bool rcpt_reply_ok(const Exchange &x);
void mail_refused(Transaction &t);
void rcpt_refused(Transaction &t, const std::string &rcpt, bool singular);
void rcpt_announced(Transaction &t, const std::string &rcpt);
// The envelope's recipients; none, after the 912 report, when the list's
// one entry did not fit its field.
std::vector<std::string> recipients_of(Transaction &t);
// The end report of an accepted message (transaction.cpp).
std::string accepted_report(Transaction &t);
// With the Chunking option and a server offering CHUNKING, the message goes
// as BDAT chunks (chunked_body.cpp): after the lockstep MAIL FROM and RCPT
// TO, or with them when `pipelined`.
bool chunking(const Transaction &t);
void chunked_message(Transaction &t, bool pipelined);
// MAIL, RCPT and DATA in one write, the replies judged in order
// (pipelined_envelope.cpp); only when the Pipelining option is on and the
// server offers PIPELINING.
void pipelined_envelope(Transaction &t);

// Sessions kept open between calls (kept_session.cpp). Before a relay
// connects: the key of the session it opens when the KeepConnection option
// keeps it, and true when a kept session of that key was adopted instead
// (no connect, greeting or login then). keeps_session: the message went and
// its session is to be kept (no QUIT). keep_session: after the last message,
// hands a session in a sure state to the pool for `seconds`; false when it
// is not kept (the caller ends it as always).
// `take` false: the key alone (a new connection after a stale one).
// replace_stale_session: the kept session the server ended meanwhile
// (Exchange::went_stale) closed and said so; the caller sends again.
bool reuse_kept_session(Transaction &t, bool take = true);
void replace_stale_session(Transaction &t);
bool keeps_session(const Transaction &t);
bool keep_session(Session &session, Exchange &x, int seconds);

// What MAIL FROM may carry by the server's offers (mail_parameters.cpp):
// the check before it (SIZE limit, SMTPUTF8 for UTF-8 addresses; false after
// the failure report), its parameters (" SIZE=n SMTPUTF8 BODY=8BITMIME
// RET=... ENVID=..." as they apply, empty after HELO), and whether an
// address holds UTF-8.
bool envelope_allowed(Transaction &t);
std::string mail_parameters(Transaction &t);
// What RCPT TO carries for `rcpt` (" NOTIFY=... ORCPT=rfc822;..." when DSN
// is asked for and offered, else empty).
std::string rcpt_parameters(Transaction &t, const std::string &rcpt);
bool needs_smtputf8(Transaction &t);

// From the connection to the end of the greeting (session_open.cpp): the
// greeting and HELO in the clear, or with the SecureConnection option the
// STARTTLS or TLS-from-the-start session, EHLO and the login.
void open_session(Transaction &t);

}  // namespace smtp
}  // namespace vellor
