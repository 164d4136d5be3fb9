// The 32-bit DLL pair as a program that loads it at run time sees it: every
// export of the .def files looked up with GetProcAddress by each of its names
// (stdcall- or type-decorated, and plain), all names of one export giving one
// address, and each called as a __stdcall caller calls: arguments pushed right
// to left, the callee removing them. The stack pointer must be back where it
// was after each call (an export that removes more or fewer bytes than its
// decorated size shows there). The records handed over sit in guarded buffers
// of their Win32 size, so an export that writes past that size, or fills
// less of a record than the whole, is caught. The calls are those of
// export_calls.rows, which must call every export.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "vellorapi.h"

// Pushes COUNT arguments (the last first), calls FN, and leaves in *moved
// how far the stack pointer is from where it was before the pushes (0 when
// FN removed exactly COUNT * 4 bytes); the stack pointer is then put back
// from the frame pointer, which FN keeps whatever it removes. The result is
// FN's.
extern "C" __attribute__((naked))
DWORD __cdecl stdcall_probe(FARPROC /*fn*/, const DWORD * /*args*/, unsigned /*count*/, int * /*moved*/) {
    asm volatile(R"(
        pushl %ebp
        movl %esp, %ebp
        movl 16(%ebp), %ecx
        movl 12(%ebp), %edx
        jecxz 2f
    1:  pushl -4(%edx,%ecx,4)
        loop 1b
    2:  call *8(%ebp)
        movl %esp, %ecx
        subl %ebp, %ecx
        movl 20(%ebp), %edx
        movl %ecx, (%edx)
        movl %ebp, %esp
        popl %ebp
        ret
    )");
}
namespace {

constexpr unsigned char kFill = 0xA5;
constexpr size_t kGuard = 64;

// A record's buffer: its Win32 size (the header checks each record's size at
// compile time), then guard bytes that must stay kFill.
struct Record {
    size_t size;
    std::vector<unsigned char> bytes;
    explicit Record(size_t n) : size(n), bytes(n + kGuard, kFill) {}
    bool guard_intact() const {
        return std::all_of(bytes.begin() + size, bytes.end(), [](unsigned char b) { return b == kFill; });
    }
    bool tail_written() const { return std::memcmp(&bytes[size - 4], "\xA5\xA5\xA5\xA5", 4) != 0; }
};
std::map<std::string, Record> records{
    {"init", Record(sizeof(SMTPINIT_STRUCTURE))},  {"send", Record(sizeof(SMTPSEND_STRUCTURE))},
    {"lib", Record(sizeof(TCPLIBRARY_STRUCTURE))}, {"session", Record(sizeof(TCPSESSION_STRUCTURE))},
    {"mx", Record(sizeof(MXQUERY_STRUCTURE))},     {"ips", Record(sizeof(VALIDMXIPS))},
    {"addrs", Record(sizeof(KORVEX_ADDRESSES))}};
// Texts and buffers to fill, 1 KB each, zeroed (each keeps its place as the
// list grows).
std::vector<std::vector<char>> buffers;

int callbacks = 0;
int32_t __stdcall count_status(SMTPSEND_STRUCTURE *, int32_t, const char *, int32_t) { return ++callbacks, 0; }

// The argument slot a word of export_calls.rows names ("X!": the record X
// refilled with kFill).
DWORD slot(std::string w) {
    bool fills = w.back() == '!';
    if (fills) w.pop_back();
    auto r = records.find(w);
    if (r != records.end()) {
        if (fills) std::memset(r->second.bytes.data(), kFill, r->second.size);
        return reinterpret_cast<DWORD>(r->second.bytes.data());
    }
    if (w == "callback") return reinterpret_cast<DWORD>(&count_status);
    if (w != "text" && w != "dword" && w.front() != '"') return static_cast<DWORD>(std::stol(w));
    std::vector<char> &b = buffers.emplace_back(1024);
    if (w.front() == '"') w.copy(b.data(), w.size() - 2, 1);
    return reinterpret_cast<DWORD>(b.data());
}

// One export: its DLL, its declared argument bytes and every name it has.
struct Export {
    std::string dll;
    unsigned long bytes = 0;
    std::vector<std::string> names;
};

// The .def files' exports, "NAME = SYMBOL@BYTES" lines, by the plain
// name of their symbol: the name, decorated or plain, a caller finds the
// export by, and BYTES, the size of its arguments.
std::map<std::string, Export> read_exports() {
    std::map<std::string, Export> found;
    for (std::string dll : {"vellorapi", "korvex"}) {
        std::ifstream in(VELLOR_WIN_DIR "/" + dll + "-i686.def");
        std::string line, name, eq, symbol;
        while (std::getline(in, line)) {
            if (!(std::istringstream(line) >> name >> eq >> symbol) || eq != "=") continue;
            Export &e = found[symbol.substr(0, symbol.rfind('@'))];
            e.dll = dll + ".dll";
            e.bytes = std::stoul(symbol.substr(symbol.rfind('@') + 1));
            e.names.push_back(name);
        }
    }
    return found;
}

// Calls E by each of its names with the arguments WORDS name, expecting
// EXPECTED ("-": any result).
void call_each_name(const Export &e, const std::vector<std::string> &words, const std::string &expected) {
    HMODULE dll = ::GetModuleHandleA(e.dll.c_str());
    ASSERT_NE(dll, nullptr) << e.dll;
    FARPROC first = ::GetProcAddress(dll, e.names.front().c_str());
    for (const std::string &name : e.names) {
        SCOPED_TRACE(e.dll + " " + name);
        FARPROC fn = ::GetProcAddress(dll, name.c_str());
        ASSERT_NE(fn, nullptr);
        EXPECT_EQ(fn, first) << "two names, two functions";
        std::vector<DWORD> args;
        for (const std::string &w : words) args.push_back(slot(w));
        int moved = 0;
        DWORD result = stdcall_probe(fn, args.data(), static_cast<unsigned>(args.size()), &moved);
        EXPECT_EQ(moved, 0) << "the export removed other than its declared " << e.bytes << " bytes";
        if (expected != "-") {
            EXPECT_EQ(static_cast<int32_t>(result), std::stol(expected));
        }
        for (const auto &[kind, r] : records) EXPECT_TRUE(r.guard_intact()) << kind << " overrun";
        for (const std::string &w : words) {
            if (w.back() == '!') {
                EXPECT_TRUE(records.at(w.substr(0, w.size() - 1)).tail_written()) << w << " not filled to its end";
            }
        }
    }
}

TEST(StdcallExports, EveryExportByEveryNameKeepsTheStack) {
    static_assert(sizeof(void *) == 4, "the 32-bit build only");
    ASSERT_NE(::LoadLibraryA("vellorapi.dll"), nullptr);  // korvex.dll comes with it
    std::map<std::string, Export> exports = read_exports();
    std::ifstream rows(VELLOR_TESTS_DIR "/export_calls.rows");
    ASSERT_TRUE(rows);
    for (std::string line; std::getline(rows, line);) {  // EXPORT ARGUMENT... => RESULT
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        std::string plain, expected;
        std::vector<std::string> args;
        words >> plain;
        for (std::string w; words >> w && w != "=>";) args.push_back(w);
        words >> expected;
        auto e = exports.find(plain);
        ASSERT_NE(e, exports.end()) << plain << " is in no .def file";
        ASSERT_EQ(args.size() * 4, e->second.bytes) << plain << ": arguments and declared size differ";
        call_each_name(e->second, args, expected);
        exports.erase(e);
    }
    for (const auto &[plain, e] : exports) ADD_FAILURE() << plain << " has no row in export_calls.rows";
    EXPECT_GT(callbacks, 0) << "the status callback was never called";
}

}  // namespace
