// One library send of a queue directory to a loopback server, as an
// application makes it (options from $VELLORAPI_REGISTRY, the log on):
// prints the seconds the call took and the messages it sent. CONNECTIONS
// sets the record's own QueueConnections.
// Usage: queue_send DIR PORT MAX [CONNECTIONS]
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "sink_request.h"

int main(int argc, char **argv) {
    if (argc < 4) return 2;
    SMTPSEND_STRUCTURE req;
    fill_sink_request(req, atoi(argv[2]), argv[1]);
    req.nMaxMessages = atoi(argv[3]);
    if (argc > 4 && VELLOR_Set_Request_Option(&req, "QueueConnections", argv[4]) != 0) return 2;
    auto t0 = std::chrono::steady_clock::now();
    int rc = VELLOR_Send_Message("Bench", &req, nullptr);
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    printf("%.6f %d\n", s, req.nMessagesSent);
    return rc == 0 ? 0 : 1;
}
