// Winsock send / recv / WSAGetLastError on the connections the companion
// opened. send never raises SIGPIPE; a socket whose send or receive timed out
// is spent, and every later receive on it fails at once. Relies on the
// system call table of syscalls.h.
#pragma once
#include <cstddef>

namespace vellor::winsock {

int send(unsigned socket, const char *buf, std::size_t len, int flags);
int recv(unsigned socket, char *buf, std::size_t len, int flags);
int WSAGetLastError();

}  // namespace vellor::winsock
