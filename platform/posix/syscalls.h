// The system calls the library makes for files and sockets, behind one table
// so that tests can replace an entry and inject a failure. Relies on POSIX.
#pragma once
#include <sys/types.h>

namespace vellor::sys {

struct Table {
    int (*open)(const char *path, int flags, mode_t mode);
    ssize_t (*read)(int fd, void *buf, size_t n);
    ssize_t (*write)(int fd, const void *buf, size_t n);
    off_t (*lseek)(int fd, off_t off, int whence);
    int (*close)(int fd);
    int (*unlink)(const char *path);
    ssize_t (*send)(int fd, const void *buf, size_t n, int flags);
    ssize_t (*recv)(int fd, void *buf, size_t n, int flags);
    ssize_t (*pread)(int fd, void *buf, size_t n, off_t off);
};

Table &table();      // the table in use
void reset_table();  // back to the real calls

}  // namespace vellor::sys
