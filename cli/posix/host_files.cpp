// File operations of the accounts file and the mail queue on POSIX systems;
// see host_files.h.
#include "host_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace cli::host {
namespace {

std::string folder_of(const std::string &path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool fail(const std::string &what, const std::string &path, std::string &error) {
    error = what + " " + path + ": " + std::strerror(errno);
    return false;
}

}  // namespace

bool write_new_synced(const std::string &path, const std::string &text, std::string &error) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return fail("cannot create", path, error);
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    bool ok = done == text.size() && ::fsync(fd) == 0;
    if (!ok) fail("cannot write", path, error);
    if (::close(fd) != 0 && ok) ok = fail("cannot write", path, error);
    if (!ok) ::unlink(path.c_str());
    return ok;
}

bool rename_synced(const std::string &from, const std::string &to, std::string &error) {
    if (::rename(from.c_str(), to.c_str()) != 0) return fail("cannot rename " + from + " to", to, error);
    int dir = ::open(folder_of(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool ok = dir >= 0 && ::fsync(dir) == 0;
    if (!ok) fail("cannot sync the folder of", to, error);
    if (dir >= 0) ::close(dir);
    return ok;
}

bool others_can_write(const std::string &path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return true;
    return (st.st_uid != ::getuid() && st.st_uid != 0) || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

}  // namespace cli::host
