// Login data encoding through the work files.
#include "smtp/auth_encode.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>

#include "platform/files.h"
#include "platform/syscalls.h"

namespace vellor {
namespace {

constexpr std::size_t kField = 128;
constexpr std::size_t kInputPerLine = 45;

int create_private(const char *name) {
    return sys::table().open(name, O_WRONLY | O_CREAT | O_TRUNC, 0600);
}

bool write_file(const char *name, const char *text) {
    int fd = create_private(name);
    if (fd < 0) return false;
    files::write_all(fd, text, ::strnlen(text, kField));
    files::close(fd);
    return true;
}

// Reads the first line of the encoded file (at most 255 characters, line end
// included) over the field, cut at its last carriage return.
void read_back(const char *name, char *field) {
    if (!files::exists(name)) return;
    int fd = files::open_read(name);
    if (fd < 0) return;
    char line[256] = {0};
    std::size_t got = 0;
    files::read_all(fd, line, 255, got);
    files::close(fd);
    char *nl = std::strchr(line, '\n');
    if (nl) nl[1] = '\0';
    char *cr = std::strrchr(line, '\r');
    if (cr) *cr = '\0';
    std::size_t n = std::min(std::strlen(line), kField - 1);
    std::memcpy(field, line, n);
    field[n] = '\0';
}

void encode_field(const char *plain_file, char *field) {
    if (!write_file(plain_file, field)) return;
    Base64_Encode_File(plain_file, "userid.mim");
    read_back("userid.mim", field);
    files::remove(plain_file);
    files::remove("userid.mim");
}

}  // namespace

std::string base64_line(const unsigned char *d, std::size_t n) {
    static const char *a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < n; i += 3) {
        unsigned v = d[i] << 16;
        if (i + 1 < n) v |= d[i + 1] << 8;
        if (i + 2 < n) v |= d[i + 2];
        out += a[(v >> 18) & 63];
        out += a[(v >> 12) & 63];
        out += i + 1 < n ? a[(v >> 6) & 63] : '=';
        out += i + 2 < n ? a[v & 63] : '=';
    }
    return out;
}

int Base64_Encode_File(const std::string &source, const std::string &target) {
    int in = files::open_read(source);
    if (in < 0) return -1;
    ::chmod(files::resolve_nocase(target).c_str(), 0600);
    files::remove(target);
    int out = sys::table().open(target.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (out < 0) {
        files::close(in);
        return -1;
    }
    unsigned char chunk[kInputPerLine];
    for (;;) {
        std::size_t got = 0;
        if (!files::read_all(in, chunk, sizeof chunk, got) || got < 1) break;
        std::string line = base64_line(chunk, got) + "\r\n";
        if (!files::write_all(out, line.data(), line.size())) break;
    }
    files::write_all(out, "\r\n", 2);
    files::close(in);
    files::close(out);
    return 0;
}

void SMTP_Encode_Auth_Data(char *user, char *password) {
    if (user[0] == '\0') {
        user[0] = '\0';
        password[0] = '\0';
        return;
    }
    int fd = create_private("userid.txt");
    if (fd < 0) return;
    files::write_all(fd, user, ::strnlen(user, kField));
    files::close(fd);
    Base64_Encode_File("userid.txt", "userid.mim");
    read_back("userid.mim", user);
    files::remove("userid.txt");
    files::remove("userid.mim");
    if (password[0] != '\0') encode_field("userpw.txt", password);
}

}  // namespace vellor
