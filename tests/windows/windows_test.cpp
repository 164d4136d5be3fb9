// The library's Windows platform layer under test, run under Wine: options
// from the real registry, kernel32 global memory for recipient lists and
// envelopes, files and searches with '\' paths, the log in the system
// directory. (The parsers every platform shares are tested on Linux.) Each
// test works in its own temporary folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/file_search.h"
#include "platform/files.h"
#include "support/log_file.h"
#include "support/options.h"
#include "vellorapi.h"

namespace {

constexpr const char *kKey = "Software\\orvane\\vellorapi\\Options";

// A fresh temporary folder, removed with its files afterwards.
class Folder {
public:
    Folder() { std::filesystem::create_directory(path_); }
    ~Folder() { std::filesystem::remove_all(path_); }
    std::string file(const std::string &name) const { return path_ + "\\" + name; }
    void write(const std::string &name, const std::string &text) const {
        std::ofstream(file(name), std::ios::binary) << text;
    }
    const std::string &path() const { return path_; }

private:
    static inline int counter_ = 0;
    std::string path_ = (std::filesystem::temp_directory_path() /
                         ("vellor-test-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++counter_)))
                            .string();
};

// The options key, emptied before and after each test.
class Registry : public ::testing::Test {
protected:
    void SetUp() override { ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey); }
    void TearDown() override { ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey); }
    void set(const char *name, DWORD type, const void *data, DWORD size) {
        HKEY k;
        ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr), 0);
        ::RegSetValueExA(k, name, 0, type, static_cast<const BYTE *>(data), size);
        ::RegCloseKey(k);
    }
    void set_dword(const char *name, DWORD value) { set(name, REG_DWORD, &value, sizeof value); }
    void set_text(const char *name, const std::string &value) {
        set(name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
    }
};

TEST_F(Registry, MissingKeyGivesTheMissingKeyDefaults) {
    EXPECT_EQ(vellor::options::log_file_limit(1), 0);  // logfilemax: 0 with no key, 10 with a key
    EXPECT_EQ(vellor::options::use_log_file(), 1);
    EXPECT_EQ(vellor::options::msg_extension(), "");
}

TEST_F(Registry, ValuesAreReadAtEveryUse) {
    set_dword("logfilemax", 7);
    set_text("MsgExtension", "eml");
    EXPECT_EQ(vellor::options::log_file_limit(1), 7);
    EXPECT_EQ(vellor::options::msg_extension(), "eml");
    set_dword("logfilemax", 3);  // an edit is seen by the next read
    EXPECT_EQ(vellor::options::log_file_limit(1), 3);
}

TEST_F(Registry, KeyWithoutTheValueGivesTheValueDefault) {
    set_dword("callback", 1);
    EXPECT_EQ(vellor::options::log_file_limit(1), 10);
    EXPECT_EQ(vellor::options::log_file_limit(0), 2);
}

TEST_F(Registry, LogGoesToTheNamedFileWithItsStamp) {
    Folder f;
    set_text("logfile", f.file("mail.log"));
    vellor::Write_Log("VellorAPI [win] - a line");
    std::ifstream in(f.file("mail.log"), std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("VellorAPI [win] - a line\r\n"), std::string::npos) << text;
    EXPECT_EQ(text[4], '/');  // yyyy/mm/dd
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

TEST(Paths, PositionedReadsAndTruncation) {
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
}

TEST(Paths, OnlyRegularFilesOpenAsMessages) {
    Folder f;
    f.write("m.txt", "hello");
    vellor::files::Stamp stamp;
    int fd = vellor::files::open_regular(f.file("m.txt"), true, stamp);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(stamp.size, 5);
    vellor::files::close(fd);
    EXPECT_EQ(vellor::files::open_regular(f.path(), true, stamp), -1);  // a folder
}

// An envelope read into kernel32 global memory, found through a '\' path.
TEST(Envelopes, FillTheRequestFromAFolder) {
    Folder f;
    f.write("msg1.txt", "Subject: x\r\n\r\nbody\r\n");
    f.write("msg1.ENV", "MAIL FROM: <s@x.test>\r\nRCPT TO: <a@y.test>\r\nRCPT TO: <b@z.test>\r\n");
    SMTPSEND_STRUCTURE req{};
    std::strcpy(req.szMessageFile, (f.path() + "\\").c_str());
    req.bUseEnvFile = 1;
    EXPECT_EQ(VELLOR_Get_Message_Details(&req), 0);
    EXPECT_STREQ(req.szSender, "s@x.test");
    EXPECT_EQ(req.nRecipients, 2);
    const char *p = static_cast<const char *>(::GlobalLock(req.hRecipients));
    EXPECT_EQ(std::string(p, ::strnlen(p, ::GlobalSize(req.hRecipients))), "a@y.test b@z.test");
    ::GlobalUnlock(req.hRecipients);
    EXPECT_EQ(std::string(req.szMessageFile), f.file("msg1.txt"));
    ::GlobalFree(req.hRecipients);
}

TEST(Exports, VersionThroughThePlainName) {
    HMODULE dll = ::LoadLibraryA("vellorapi.dll");
    ASSERT_NE(dll, nullptr);
    using Version = void(__stdcall *)(char *, char *, DWORD *);
    auto version =
        reinterpret_cast<Version>(reinterpret_cast<void *>(::GetProcAddress(dll, "VellorAPI_Library_Version")));
    ASSERT_NE(version, nullptr);
    char v[24] = {}, b[12] = {};
    DWORD rev = 0;
    version(v, b, &rev);
    EXPECT_STREQ(v, "2.61.0.30");
    EXPECT_EQ(rev, 450194u);
    ::FreeLibrary(dll);
}

// The per-record options export, found by its plain name as a program that
// loads the DLL at run time finds it: a known option taken, an unknown one
// refused with its name in the error text.
TEST(Exports, RequestOptionThroughThePlainName) {
    HMODULE dll = ::LoadLibraryA("vellorapi.dll");
    ASSERT_NE(dll, nullptr);
    using Set = int32_t(__stdcall *)(SMTPSEND_STRUCTURE *, const char *, const char *);
    auto set = reinterpret_cast<Set>(reinterpret_cast<void *>(::GetProcAddress(dll, "VELLOR_Set_Request_Option")));
    ASSERT_NE(set, nullptr);
    SMTPSEND_STRUCTURE req{};
    EXPECT_EQ(set(&req, "securecONNECTION", "1"), 0);
    EXPECT_EQ(set(&req, "NoSuchOption", "1"), -1);
    EXPECT_NE(std::strstr(req.szErrorText, "NoSuchOption"), nullptr) << req.szErrorText;
    ::FreeLibrary(dll);
}

}  // namespace
