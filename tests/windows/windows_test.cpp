// The library's Windows platform layer under test, run under Wine: options
// from the real registry, files and searches with '\' paths, the log in the
// system directory. (The logic every platform shares is tested on Linux;
// global memory, envelope files and the exports by plain name are used by
// the end-to-end scripts.) Each test works in its own temporary folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/file_search.h"
#include "platform/files.h"
#include "support/log_file.h"
#include "support/options.h"

namespace {

constexpr const char *kKey = "Software\\orvane\\vellorapi\\Options";

// A fresh temporary folder, removed with its files afterwards.
struct Folder {
    std::string path =
        (std::filesystem::temp_directory_path() / ("vellor-test-" + std::to_string(::GetCurrentProcessId()))).string();
    Folder() { std::filesystem::create_directory(path); }
    ~Folder() { std::filesystem::remove_all(path); }
    std::string file(const std::string &name) const { return path + "\\" + name; }
    void write(const std::string &name, const std::string &text) const {
        std::ofstream(file(name), std::ios::binary) << text;
    }
};

// The values as the registry holds them, each edit seen by the next read
// (logfilemax: 0 with no key, 10 with the key but not the value).
TEST(Registry, ValuesAreReadAtEveryUse) {
    ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey);
    EXPECT_EQ(vellor::options::log_file_limit({}, 1), 0);
    HKEY k;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr), 0);
    EXPECT_EQ(vellor::options::log_file_limit({}, 1), 10);
    for (DWORD limit : {7, 3}) {
        ::RegSetValueExA(k, "logfilemax", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&limit), sizeof limit);
        EXPECT_EQ(vellor::options::log_file_limit({}, 1), static_cast<int32_t>(limit));
    }
    ::RegSetValueExA(k, "MsgExtension", 0, REG_SZ, reinterpret_cast<const BYTE *>("eml"), 4);
    EXPECT_EQ(vellor::options::msg_extension({}), "eml");
    ::RegCloseKey(k);
    ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey);
}

TEST(Paths, DefaultLogLiesInTheSystemDirectory) {
    char sys[MAX_PATH + 1];
    UINT n = ::GetSystemDirectoryA(sys, sizeof sys);
    ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey);
    EXPECT_EQ(vellor::log_file_path(), std::string(sys, n) + "\\vellorlog.txt");
}

TEST(Paths, SearchReturnsNamesInCaseBlindOrder) {
    Folder f;
    for (const char *name : {"c.txt", "B.TXT", "a.txt", "skip.env"}) f.write(name, "x");
    vellor::files::Search s;
    ASSERT_TRUE(s.first(f.file("*.txt")));
    std::string order = s.name();
    while (s.next()) order.append(" ").append(s.name());
    EXPECT_EQ(order, "a.txt B.TXT c.txt");
}

// Positioned reads and truncation, then the file opened as a message (a
// folder is not).
TEST(Paths, FilesAreReadCutAndOpened) {
    Folder f;
    f.write("data", "0123456789");
    int fd = vellor::files::open_read_write(f.file("data"));
    ASSERT_GE(fd, 0);
    char buf[4] = {};
    EXPECT_EQ(vellor::files::read_at(fd, buf, 3, 5), 3);
    EXPECT_EQ(std::string(buf, 3), "567");
    EXPECT_EQ(vellor::files::read_at(fd, buf, 3, 10), 0);  // the end of the file
    EXPECT_TRUE(vellor::files::truncate(fd, 4));
    vellor::files::close(fd);
    int64_t size = -1;
    EXPECT_TRUE(vellor::files::file_size(f.file("data"), size));
    EXPECT_EQ(size, 4);
    vellor::files::Stamp stamp;
    fd = vellor::files::open_regular(f.file("data"), true, stamp);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(stamp.size, 4);
    vellor::files::close(fd);
    EXPECT_EQ(vellor::files::open_regular(f.path, true, stamp), -1);
}

}  // namespace
