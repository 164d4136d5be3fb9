// The request record both SMTP benchmarks send: one recipient, through the
// loopback sink on the given port, with the log file on by default; with
// BENCH_LOGIN=USER:PASSWORD in the environment, a login too.
#pragma once
#include <cstdlib>
#include <cstring>
#include <string>

#include "vellorapi.h"

inline void fill_sink_request(SMTPSEND_STRUCTURE &req, int port, const char *message) {
    std::memset(&req, 0, sizeof req);
    std::strcpy(req.szServerIP, "127.0.0.1");
    req.nPort = port;
    std::strcpy(req.szSender, "bench@example.org");
    std::strcpy(req.szRecipient, "sink@example.org");
    req.bSingleRecipient = 1;
    std::strncpy(req.szMessageFile, message, sizeof req.szMessageFile - 1);
    if (const char *login = std::getenv("BENCH_LOGIN")) {
        std::string user(login), password;
        if (std::size_t colon = user.find(':'); colon != std::string::npos) {
            password = user.substr(colon + 1);
            user.resize(colon);
        }
        std::strncpy(req.szAuthUser, user.c_str(), sizeof req.szAuthUser - 1);
        std::strncpy(req.szAuthPassword, password.c_str(), sizeof req.szAuthPassword - 1);
    }
}
