// The request record both SMTP benchmarks send: one recipient, through the
// loopback sink on the given port, with the log file on by default.
#pragma once
#include <cstring>

#include "vellorapi.h"

inline void fill_sink_request(SMTPSEND_STRUCTURE &req, int port, const char *message) {
    std::memset(&req, 0, sizeof req);
    std::strcpy(req.szServerIP, "127.0.0.1");
    req.nPort = port;
    std::strcpy(req.szSender, "bench@example.org");
    std::strcpy(req.szRecipient, "sink@example.org");
    req.bSingleRecipient = 1;
    std::strncpy(req.szMessageFile, message, sizeof req.szMessageFile - 1);
}
