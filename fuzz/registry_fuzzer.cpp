// Fuzzes the registry file parser through the option readers: the input is
// the whole options file (after a valid header, so the parser goes past it).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static std::string path = [] {
        std::string p =
            std::string(std::getenv("VELLORAPI_SYSTEM_DIR") ? std::getenv("VELLORAPI_SYSTEM_DIR") : "/tmp") +
            "/fuzz-registry-" + std::to_string(::getpid()) + ".reg";
        ::setenv("VELLORAPI_REGISTRY", p.c_str(), 1);
        return p;
    }();
    std::string text =
        "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\orvane\\vellorapi\\Options]\r\n\"UseLogFile\"=dword:00000000\r\n";
    text.append(reinterpret_cast<const char *>(data), size);
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    vellor::options::msg_extension({});
    vellor::options::log_file({});
    vellor::options::send_percent_sent({});
    vellor::options::message_options({});
    return 0;
}
