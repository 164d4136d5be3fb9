// File access through the Win32 file calls (CreateFileA, ReadFile,
// WriteFile, DeleteFileA, GetFileAttributesExA). Windows matches names
// without regard to case itself, so paths are used as written. A file
// handle travels as an int: kernel handles fit in 32 bits on 64-bit Windows
// too, and INVALID_HANDLE_VALUE is -1.
#include "platform/files.h"

#include <windows.h>

#include <cstring>

namespace vellor::files {

const char kSeparator = '\\';

namespace {

HANDLE handle_of(int fd) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd)); }
int fd_of(HANDLE h) { return h == INVALID_HANDLE_VALUE ? -1 : static_cast<int>(reinterpret_cast<intptr_t>(h)); }

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

int open_with(const std::string &path, DWORD access, DWORD disposition, DWORD flags = FILE_ATTRIBUTE_NORMAL) {
    if (path.empty()) return -1;
    return fd_of(::CreateFileA(path.c_str(), access, kShareAll, nullptr, disposition, flags, nullptr));
}

}  // namespace

int compare_nocase(const std::string &a, const std::string &b) { return ::_stricmp(a.c_str(), b.c_str()); }

std::string resolve_nocase(const std::string &path) { return path; }

bool exists(const std::string &path) {
    return !path.empty() && ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool file_size(const std::string &path, int64_t &size) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path.empty() || !::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
    size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

int open_read(const std::string &path) { return open_with(path, GENERIC_READ, OPEN_EXISTING); }

int open_regular(const std::string &path, bool no_links, Stamp &stamp, std::string *opened) {
    if (opened) *opened = path;
    int fd = open_with(path, GENERIC_READ, OPEN_EXISTING, no_links ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    if (fd < 0) return -1;
    BY_HANDLE_FILE_INFORMATION info;
    DWORD refused = FILE_ATTRIBUTE_DIRECTORY | (no_links ? FILE_ATTRIBUTE_REPARSE_POINT : 0);
    if (::GetFileType(handle_of(fd)) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle_of(fd), &info) ||
        (info.dwFileAttributes & refused) != 0 || !stamp_of(fd, stamp)) {
        close(fd);
        return -1;
    }
    return fd;
}

// FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end.
int open_append_create(const std::string &path) { return open_with(path, FILE_APPEND_DATA, OPEN_ALWAYS); }

int create_truncate(const std::string &path, bool read_too) {
    return open_with(path, GENERIC_WRITE | (read_too ? GENERIC_READ : 0), CREATE_ALWAYS);
}

int open_read_write(const std::string &path) { return open_with(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING); }

namespace {
OVERLAPPED at_offset(int64_t offset) {
    OVERLAPPED o{};
    o.Offset = static_cast<DWORD>(offset & 0xffffffff);
    o.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return o;
}
DWORD piece(std::size_t n) { return n > (1u << 30) ? (1u << 30) : static_cast<DWORD>(n); }
}  // namespace

bool write_at(int fd, const void *buf, std::size_t n, int64_t offset) {
    auto *p = static_cast<const char *>(buf);
    for (std::size_t done = 0; done < n;) {
        OVERLAPPED o = at_offset(offset + static_cast<int64_t>(done));
        DWORD w = 0;
        if (!::WriteFile(handle_of(fd), p + done, piece(n - done), &w, &o) || w == 0) return false;
        done += w;
    }
    return true;
}

int64_t read_at(int fd, void *buf, std::size_t n, int64_t offset) {
    OVERLAPPED o = at_offset(offset);
    DWORD got = 0;
    if (!::ReadFile(handle_of(fd), buf, piece(n), &got, &o)) return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return got;
}

bool truncate(int fd, int64_t size) {
    LARGE_INTEGER at;
    at.QuadPart = size;
    return ::SetFilePointerEx(handle_of(fd), at, nullptr, FILE_BEGIN) && ::SetEndOfFile(handle_of(fd));
}

namespace {
int64_t time_of(FILETIME t) {
    return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}
}  // namespace

bool stamp_of(int fd, Stamp &stamp) {
    BY_HANDLE_FILE_INFORMATION info;
    FILE_BASIC_INFO basic;
    if (fd < 0 || !::GetFileInformationByHandle(handle_of(fd), &info) ||
        !::GetFileInformationByHandleEx(handle_of(fd), FileBasicInfo, &basic, sizeof basic))
        return false;
    stamp.device = info.dwVolumeSerialNumber;
    stamp.inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    stamp.size = (static_cast<int64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    stamp.modified = time_of(info.ftLastWriteTime);
    stamp.changed = basic.ChangeTime.QuadPart;
    return true;
}

// Opened for its attributes only, the link itself rather than its target.
bool stamp_at(const std::string &path, Stamp &stamp) {
    int fd =
        open_with(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS);
    if (fd < 0) return false;
    bool ok = stamp_of(fd, stamp);
    close(fd);
    return ok;
}

// The whole file's byte range, locked for this handle; Windows gives it up
// when the handle is closed or its process ends.
bool try_lock(int fd) {
    OVERLAPPED o{};
    return fd >= 0 &&
           ::LockFileEx(handle_of(fd), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &o);
}

// Windows names no two files that differ only in letter case in one folder.
bool remove_exact(const std::string &path) { return remove(path); }

bool remove(const std::string &path) { return !path.empty() && ::DeleteFileA(path.c_str()); }

bool read_all(int fd, void *buf, std::size_t n, std::size_t &got) {
    got = 0;
    auto *p = static_cast<char *>(buf);
    while (got < n) {
        DWORD r = 0;
        if (!::ReadFile(handle_of(fd), p + got, piece(n - got), &r, nullptr)) return false;
        if (r == 0) break;
        got += r;
    }
    return true;
}

bool write_all(int fd, const void *buf, std::size_t n) {
    auto *p = static_cast<const char *>(buf);
    for (std::size_t done = 0; done < n;) {
        DWORD w = 0;
        if (!::WriteFile(handle_of(fd), p + done, piece(n - done), &w, nullptr) || w == 0) return false;
        done += w;
    }
    return true;
}

void close(int fd) {
    if (fd >= 0) ::CloseHandle(handle_of(fd));
}

}  // namespace vellor::files
