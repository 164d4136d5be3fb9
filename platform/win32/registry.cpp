// The registry, read only, through the real Win32 calls: the options key
// under HKEY_LOCAL_MACHINE is opened for each read and closed at once, so
// every read sees the registry as it is.
#include "platform/registry.h"

namespace {
// Taken before windows.h turns these names into macros.
const vellor::reg::HKEY kMachine = vellor::reg::HKEY_LOCAL_MACHINE;
}  // namespace

#include <windows.h>

namespace {
const ::HKEY kSystemMachine = HKEY_LOCAL_MACHINE;
}  // namespace

namespace vellor::reg {

std::string registry_path() { return "HKEY_LOCAL_MACHINE\\Software\\orvane\\vellorapi\\Options"; }

long RegOpenKeyExA(HKEY root, const char *subKey, uint32_t options, uint32_t access, HKEY *result) {
    if (!result) return ERROR_FILE_NOT_FOUND;
    *result = nullptr;
    if (root != kMachine || !subKey) return ERROR_FILE_NOT_FOUND;
    ::HKEY key = nullptr;
    LONG rc = ::RegOpenKeyExA(kSystemMachine, subKey, options, access, &key);
    if (rc == ERROR_SUCCESS) *result = key;
    return rc;
}

long RegQueryValueExA(HKEY key, const char *name, uint32_t *, uint32_t *type, uint8_t *data, uint32_t *size) {
    DWORD kind = 0, bytes = size ? *size : 0;
    LONG rc = ::RegQueryValueExA(static_cast<::HKEY>(key), name, nullptr, &kind, data, size ? &bytes : nullptr);
    if (type) *type = kind;
    if (size) *size = bytes;
    return rc;
}

long RegCloseKey(HKEY key) { return ::RegCloseKey(static_cast<::HKEY>(key)); }

std::string RegUnparsedValue(const char *, const char *) { return {}; }  // typed values only

}  // namespace vellor::reg
