// The loopback address the benchmarks' own clients and sinks use.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdint>

inline sockaddr_in loopback_address(int port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &sa.sin_addr);
    return sa;
}
