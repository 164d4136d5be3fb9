// One library send of a queue directory to a loopback server, as an
// application makes it (options from $VELLORAPI_REGISTRY, the log on):
// prints the seconds the call took and the messages it sent. CONNECTIONS
// sets the record's own QueueConnections. With `calls`, MAX separate calls
// instead, each sending DIR/m0000.txt alone, as an application sending one
// message at a time does (the options file's KeepConnection keeps the
// session between them: the library is initialised first).
// Usage: queue_send DIR PORT MAX [CONNECTIONS [calls]]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sink_request.h"

int main(int argc, char **argv) {
    if (argc < 4) return 2;
    SMTPSEND_STRUCTURE req;
    fill_sink_request(req, atoi(argv[2]), argv[1]);
    req.nMaxMessages = atoi(argv[3]);
    if (argc > 4 && VELLOR_Set_Request_Option(&req, "QueueConnections", argv[4]) != 0) return 2;
    const bool calls = argc > 5 && std::string(argv[5]) == "calls";
    const std::string one = std::string(argv[1]) + "/m0000.txt";
    SMTPINIT_STRUCTURE lib;  // initialised, as an application is: sessions may be kept between calls
    VELLOR_Initialize_Library(&lib, 0, "Bench");
    auto t0 = std::chrono::steady_clock::now();
    int rc = 0, sent = 0;
    for (int i = 0; calls && i < atoi(argv[3]) && rc == 0; ++i) {
        SMTPSEND_STRUCTURE each;
        fill_sink_request(each, atoi(argv[2]), one.c_str());
        rc = VELLOR_Send_Message("Bench", &each, nullptr);
        sent += each.nMessagesSent;
    }
    if (!calls) rc = VELLOR_Send_Message("Bench", &req, nullptr);
    if (!calls) sent = req.nMessagesSent;
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    printf("%.6f %d\n", s, sent);
    VELLOR_Closedown_Library(&lib, "Bench");
    return rc == 0 ? 0 : 1;
}
