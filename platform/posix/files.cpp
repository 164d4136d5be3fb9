// Case-insensitive file access for the Win32 file stand-ins (CreateFileA,
// ReadFile, WriteFile, DeleteFileA, file existence and size).
#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/posix/syscalls.h"

namespace vellor::files {

const char kSeparator = '/';

int compare_nocase(const std::string &a, const std::string &b) { return ::strcasecmp(a.c_str(), b.c_str()); }

namespace {

bool lexists(const std::string &p) {
    struct stat st;
    return ::stat(p.c_str(), &st) == 0;
}

// The first entry of dir (in case-insensitive name order) equal to name
// without regard to case; empty when none.
std::string match_in_dir(const std::string &dir, const std::string &name) {
    DIR *d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return {};
    std::vector<std::string> hits;
    while (dirent *e = ::readdir(d)) {
        if (::strcasecmp(e->d_name, name.c_str()) == 0) hits.emplace_back(e->d_name);
    }
    ::closedir(d);
    if (hits.empty()) return {};
    std::sort(hits.begin(), hits.end(), [](const std::string &a, const std::string &b) {
        int c = compare_nocase(a, b);
        return c != 0 ? c < 0 : a < b;
    });
    return hits.front();
}

}  // namespace

std::string resolve_nocase(const std::string &path) {
    if (path.empty() || lexists(path)) return path;
    std::string out;
    std::size_t pos = 0;
    if (path[0] == '/') {
        out = "/";
        pos = 1;
    }
    while (pos <= path.size()) {
        std::size_t slash = path.find('/', pos);
        std::string comp = path.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
        if (!comp.empty()) {
            std::string cand = out + comp;
            if (!lexists(cand)) {
                std::string dir = out.empty() ? "." : out;
                std::string hit = match_in_dir(dir, comp);
                if (hit.empty()) return path;
                cand = out + hit;
            }
            out = cand;
        }
        if (slash == std::string::npos) break;
        out += '/';
        pos = slash + 1;
    }
    return out;
}

bool exists(const std::string &path) { return !path.empty() && (lexists(path) || lexists(resolve_nocase(path))); }

bool file_size(const std::string &path, int64_t &size) {
    struct stat st;
    if (path.empty()) return false;
    if (::stat(path.c_str(), &st) != 0 && ::stat(resolve_nocase(path).c_str(), &st) != 0) return false;
    size = st.st_size;
    return true;
}

namespace {
// Opens the path as written; only when it is missing is it looked up
// without regard to case (so the common case costs one system call).
int open_nocase(const std::string &path, int flags, std::string *opened = nullptr) {
    int fd = sys::table().open(path.c_str(), flags, 0644);
    if (opened) *opened = path;
    if (fd >= 0 || errno != ENOENT) return fd;
    std::string found = resolve_nocase(path);
    if (opened) *opened = found;
    return found == path ? -1 : sys::table().open(found.c_str(), flags, 0644);
}

int64_t nanoseconds(const timespec &t) { return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; }

Stamp stamp_from(const struct stat &st) {
    Stamp s;
    s.device = static_cast<uint64_t>(st.st_dev);
    s.inode = static_cast<uint64_t>(st.st_ino);
    s.size = static_cast<int64_t>(st.st_size);
    s.modified = nanoseconds(st.st_mtim);
    s.changed = nanoseconds(st.st_ctim);
    s.shared = S_ISLNK(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    return s;
}
}  // namespace

int open_read(const std::string &path) { return path.empty() ? -1 : open_nocase(path, O_RDONLY | O_NONBLOCK); }

int open_regular(const std::string &path, bool no_links, Stamp &stamp, std::string *opened) {
    if (path.empty()) return -1;
    int fd = open_nocase(path, O_RDONLY | O_NONBLOCK | (no_links ? O_NOFOLLOW : 0), opened);
    if (fd < 0) return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return -1;
    }
    stamp = stamp_from(st);
    return fd;
}

namespace {

// A file opened for writing that is not a regular file (a FIFO, a device) is closed: -1.
int only_regular(int fd) {
    struct stat st;
    if (fd < 0 || (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))) return fd;
    close(fd);
    return -1;
}

// Another user's link or FIFO at the path is not followed or waited on.
constexpr int kNoLinkNoWait = O_NOFOLLOW | O_NONBLOCK;

}  // namespace

int open_append_create(const std::string &path) {
    if (path.empty()) return -1;
    constexpr int kAppend = O_WRONLY | O_APPEND | kNoLinkNoWait;
    int fd = open_nocase(path, kAppend);
    if (fd < 0 && errno == ENOENT) fd = sys::table().open(path.c_str(), kAppend | O_CREAT, 0600);
    return only_regular(fd);
}

int create_truncate(const std::string &path, bool read_too) {
    if (path.empty()) return -1;
    int mode = read_too ? O_RDWR : O_WRONLY;
    return sys::table().open(resolve_nocase(path).c_str(), mode | O_CREAT | O_TRUNC, 0644);
}

int open_read_write(const std::string &path) {
    return path.empty() ? -1 : only_regular(open_nocase(path, O_RDWR | kNoLinkNoWait));
}

bool write_at(int fd, const void *buf, std::size_t n, int64_t offset) {
    auto *p = static_cast<const char *>(buf);
    for (std::size_t done = 0; done < n;) {
        ssize_t w = ::pwrite(fd, p + done, n - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (w <= 0) return false;
        done += static_cast<std::size_t>(w);
    }
    return true;
}

int64_t read_at(int fd, void *buf, std::size_t n, int64_t offset) {
    return sys::table().pread(fd, buf, n, static_cast<off_t>(offset));
}

bool truncate(int fd, int64_t size) { return ::ftruncate(fd, static_cast<off_t>(size)) == 0; }

bool stamp_of(int fd, Stamp &stamp) {
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) return false;
    stamp = stamp_from(st);
    return true;
}

bool stamp_at(const std::string &path, Stamp &stamp) {
    struct stat st;
    if (path.empty() || ::lstat(path.c_str(), &st) != 0) return false;
    stamp = stamp_from(st);
    return true;
}

// flock: the claim belongs to the open file, so two threads of one process
// exclude each other too; the kernel gives it up when the process dies.
bool try_lock(int fd) { return fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0; }

bool remove_exact(const std::string &path) { return !path.empty() && sys::table().unlink(path.c_str()) == 0; }

bool remove(const std::string &path) { return !path.empty() && sys::table().unlink(resolve_nocase(path).c_str()) == 0; }

bool read_all(int fd, void *buf, std::size_t n, std::size_t &got) {
    got = 0;
    auto *p = static_cast<char *>(buf);
    while (got < n) {
        ssize_t r = sys::table().read(fd, p + got, n - got);
        if (r < 0) return false;
        if (r == 0) break;
        got += static_cast<std::size_t>(r);
    }
    return true;
}

bool write_all(int fd, const void *buf, std::size_t n) {
    auto *p = static_cast<const char *>(buf);
    std::size_t done = 0;
    while (done < n) {
        ssize_t w = sys::table().write(fd, p + done, n - done);
        if (w <= 0) return false;
        done += static_cast<std::size_t>(w);
    }
    return true;
}

void close(int fd) {
    if (fd >= 0) sys::table().close(fd);
}

}  // namespace vellor::files
