// Send_Queued_Messages: one message (a file or hMessage), or the queued
// files of a message directory. The count reported beforehand is taken with
// "*." and the MsgExtension option and decides between one connection per
// file (count below 2) and one batch connection for all (2 or more, closed
// with QUIT); the files sent are those matching "*.txt". A directory pass
// sends at most nMaxMessages files, 250 when that is 0; 1 or a negative
// value sends only the first file found.
#include "platform/file_search.h"
#include "platform/winsock.h"
#include "smtp/transaction.h"
#include "submit/delivery.h"
#include "support/options.h"
#include "support/text.h"
#include "transport/companion.h"

namespace vellor {

int queue_limit(int32_t maxMessages) { return maxMessages > 0 ? maxMessages : 250; }

bool close_batch_connection(Call &c) {
    unsigned sock = c.session->nSocket;
    winsock::send(sock, "QUIT\r\n", 6, 0);
    char reply[256];
    winsock::recv(sock, reply, 255, 0);
    return transport::close_socket(c.block, c.session);
}

int count_queued(const std::string &directory) {
    return files::count_matches(directory + "*." + options::msg_extension());
}

namespace {

bool names_directory(SMTPSEND_STRUCTURE *r) {
    std::string file = fs(r->szMessageFile);
    return !r->hMessage && !file.empty() && find_text_nocase(file, fs(r->szMsgExtension)) == std::string::npos;
}

// nMaxMessages 1 or negative: only the first queued file.
int send_first_only(Call &c, int connectFlag) {
    SMTPSEND_STRUCTURE *r = c.req;
    std::string dir = fs(r->szMessageFile);
    files::Search search;
    if (!search.first(dir + "*." + options::msg_extension())) return 0;
    set_field(r->szMessageFile, dir + search.name());
    r->nAttempt = 1;
    if (r->bUseEnvFile && VELLOR_Get_Message_Details(r) == -1) return 0;
    c.both(921, 0, "Sending message to relay server.");
    if (SMTP_Deliver_Message(c, connectFlag) == 0) r->nMessagesSent = 1;
    return 0;
}

void close_batch(Call &c) {
    if (!close_batch_connection(c)) return;
    c.log(c.prefixed("Socket closed correctly..."));
    c.log(c.prefixed("Winsock session terminated correctly..."));
}

int send_directory(Call &c, int connectFlag) {
    SMTPSEND_STRUCTURE *r = c.req;
    std::string dir = fs(r->szMessageFile);
    int count = count_queued(dir);
    c.status(921, 0, count == 1 ? c.prefixed("1 message has been identified as waiting to be sent!")
                                : c.prefixed(format("%d messages have been identified as waiting to be sent!", count)));
    files::Search search;
    bool more = search.first(dir + "*.txt");
    bool batch = count >= 2;
    int first = 1;
    for (int i = 0; more && i < queue_limit(r->nMaxMessages); ++i, more = search.next()) {
        set_field(r->szMessageFile, dir + search.name());
        r->nAttempt = static_cast<int16_t>(i + 1);
        int result;
        if (batch) {
            if (r->bUseEnvFile && VELLOR_Get_Message_Details(r) == -1) continue;
            c.both(921, 0, "Sending message to all recipents - to relay server.");
            result = SMTP_Deliver_Batch_Message(c, first);
            first = 0;
            if (result == -1) break;
        } else {
            result = SMTP_Deliver_Message(c, connectFlag);
        }
        if (result == 0) r->nMessagesSent += 1;
    }
    search.close();
    if (batch) close_batch(c);
    return 0;
}

}  // namespace

int Send_Queued_Messages(Call &c, int connectFlag) {
    SMTPSEND_STRUCTURE *r = c.req;
    if (empty(r->szMsgExtension)) set_field(r->szMsgExtension, "TXT");
    if (names_directory(r)) {
        if (r->nMaxMessages != 0 && r->nMaxMessages <= 1) return send_first_only(c, connectFlag);
        return send_directory(c, connectFlag);
    }
    r->nAttempt = 1;
    if (r->bUseEnvFile && VELLOR_Get_Message_Details(r) == -1) return 0;
    c.both(921, 0, "Sending message to relay server.");
    if (SMTP_Deliver_Message(c, connectFlag) == -1) return -1;
    r->nMessagesSent = 1;
    return 0;
}

}  // namespace vellor
