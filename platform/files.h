// Win32-style file access on Linux: paths are matched without regard to
// letter case (each missing component is looked up in its directory, first
// match in name order), as Windows programs see files. Relies on the system
// call table of syscalls.h.
#pragma once
#include <cstdint>
#include <string>

namespace vellor::files {

// The directory separator: '/' on Linux, '\\' on Windows.
extern const char kSeparator;

// The path as it exists on disk, or the path as written when nothing matches.
std::string resolve_nocase(const std::string &path);

bool exists(const std::string &path);  // file or directory
bool file_size(const std::string &path, int64_t &size);
int open_read(const std::string &path);  // -1 on failure; never waits on a FIFO
// Which file a name or descriptor stands for (device and inode, or volume
// and file index) and which version of it (size, modification and change
// times in the file system's own steps).
struct Stamp {
    uint64_t device = 0, inode = 0;
    int64_t size = -1, modified = 0, changed = 0;
    bool shared = false;  // POSIX: a link, another user's, or its group or others may write it
    bool same_file(const Stamp &o) const { return device == o.device && inode == o.inode; }
    bool operator==(const Stamp &) const = default;
};
bool stamp_of(int fd, Stamp &stamp);
// A message file: opened only when it is a regular file (a FIFO, device or
// directory is refused, and with no_links a symbolic link too); its stamp in
// `stamp` (the size among it), and in `opened` (when given) the path as
// found on disk. -1 otherwise.
int open_regular(const std::string &path, bool no_links, Stamp &stamp, std::string *opened = nullptr);
// The entry the path names exactly as written (letter case as given, a
// symbolic link itself); false when there is none.
bool stamp_at(const std::string &path, Stamp &stamp);
// An exclusive claim on an open file, given up when the file is closed or
// its process ends; false at once when another holder has it.
bool try_lock(int fd);
// Removes the entry named exactly as written: no namesake differing in
// letter case.
bool remove_exact(const std::string &path);
// POSIX: the log's opens take a regular file only, never through a link, never waiting on a FIFO.
int open_append_create(const std::string &path);              // OPEN_ALWAYS, writes go to the end; a new file is 0600
int create_truncate(const std::string &path, bool read_too);  // CREATE_ALWAYS
bool remove(const std::string &path);                         // DeleteFileA
int open_read_write(const std::string &path);                 // an existing regular file (as above), -1 on failure
bool write_at(int fd, const void *buf, std::size_t n, int64_t offset);
// One positioned read: the bytes read (0 at the end of the file), -1 on error.
int64_t read_at(int fd, void *buf, std::size_t n, int64_t offset);
bool truncate(int fd, int64_t size);
bool read_all(int fd, void *buf, std::size_t n, std::size_t &got);
bool write_all(int fd, const void *buf, std::size_t n);
void close(int fd);

// Compares two names without regard to ASCII letter case: <0, 0, >0.
int compare_nocase(const std::string &a, const std::string &b);

}  // namespace vellor::files
