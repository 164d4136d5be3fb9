// The real system calls behind the library's fault-injection table.
#include "platform/posix/syscalls.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vellor::sys {
namespace {

int real_open(const char *path, int flags, mode_t mode) { return ::open(path, flags | O_CLOEXEC, mode); }

Table make_real() { return Table{real_open, ::read, ::write, ::lseek, ::close, ::unlink, ::send, ::recv, ::pread}; }

Table g_table = make_real();

}  // namespace

Table &table() { return g_table; }
void reset_table() { g_table = make_real(); }

}  // namespace vellor::sys
