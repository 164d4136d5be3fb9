// The tool's private options file; see private_options.h.
#include "private_options.h"

#include "system.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace cli {
namespace {

constexpr const char *kSection = "[HKEY_LOCAL_MACHINE\\Software\\orvane\\vellorapi\\Options]";

// The user's file as 8-bit text (a UTF-16 file as regedit writes it loses
// its high bytes, as the library reads it); empty when there is none.
std::string user_registry() {
    std::ifstream in(sys::default_options_file(), std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    std::string raw = all.str();
    if (raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFF && static_cast<unsigned char>(raw[1]) == 0xFE) {
        std::string narrow;
        for (std::size_t i = 2; i + 1 < raw.size(); i += 2) narrow += raw[i];
        return narrow;
    }
    return raw;
}

}  // namespace

std::string PrivateOptions::hex(long value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08lx", static_cast<unsigned long>(value) & 0xffffffffUL);
    return text;
}

void PrivateOptions::text(const std::string &name, const std::string &value) {
    std::string quoted = "\"";
    for (char c : value) {
        if (c == '\\' || c == '"') quoted += '\\';
        quoted += c;
    }
    values_[name] = quoted + "\"";
    ++required_;
}

bool PrivateOptions::apply(std::string &error) {
    if (!sys::make_private_folder(dir_)) {
        error = "cannot make a private folder for the options";
        return false;
    }
    std::string base = user_registry();
    if (base.rfind("REGEDIT4", 0) != 0 && base.find("Windows Registry Editor") == std::string::npos)
        base = "REGEDIT4\r\n";
    std::string file = dir_ + sys::kSeparator + "registry.reg";
    std::ofstream out(file, std::ios::binary);
    out << base << "\r\n" << kSection << "\r\n";
    for (const auto &[name, value] : values_) out << '"' << name << "\"=" << value << "\r\n";
    out.close();
    if (!out) {
        error = "cannot write the private options file";
        return false;
    }
    const char *old = std::getenv("VELLORAPI_REGISTRY");
    had_registry_ = old != nullptr;
    if (old) old_registry_ = old;
    std::string why;
    if (!sys::use_options_file(file, why)) {
        if (required_ == 0) return true;  // only the tool's own safety values: the library's defaults stand
        error = why;
        return false;
    }
    applied_ = true;
    return true;
}

PrivateOptions::~PrivateOptions() {
    if (applied_) {
        if (had_registry_)
            sys::set_env("VELLORAPI_REGISTRY", old_registry_);
        else
            sys::unset_env("VELLORAPI_REGISTRY");
    }
    if (!dir_.empty()) {
        std::error_code ec;
        std::filesystem::remove(dir_ + sys::kSeparator + "registry.reg", ec);
        std::filesystem::remove(dir_ + sys::kSeparator + "queue", ec);
        std::filesystem::remove(dir_, ec);
    }
}

}  // namespace cli
