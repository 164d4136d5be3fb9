// The registry, read only, for Linux: one key kept in a text file in the
// Windows registry export format. The file is $VELLORAPI_REGISTRY or
// /etc/vellorapi/registry.reg, parsed again whenever one stat at a key
// opening shows it changed (see the cache in registry.cpp). Shaped like
// RegOpenKeyExA / RegQueryValueExA / RegCloseKey so the option readers read
// as on Windows.
#pragma once
#include <cstdint>
#include <string>

namespace vellor::reg {

using HKEY = void *;
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002u));
constexpr uint32_t KEY_QUERY_VALUE = 0x0001;
constexpr long ERROR_SUCCESS = 0;
constexpr long ERROR_FILE_NOT_FOUND = 2;
constexpr long ERROR_MORE_DATA = 234;
// Value types, as Win32 numbers them.
constexpr uint32_t REG_SZ = 1, REG_EXPAND_SZ = 2, REG_BINARY = 3, REG_DWORD = 4;

// The registry file in use.
std::string registry_path();

long RegOpenKeyExA(HKEY root, const char *subKey, uint32_t options, uint32_t access, HKEY *result);
// A value larger than *size leaves data untouched and gives ERROR_MORE_DATA.
long RegQueryValueExA(HKEY key, const char *name, uint32_t *reserved, uint32_t *type, uint8_t *data, uint32_t *size);
long RegCloseKey(HKEY key);
// The text of the named value as written when its line in the key's
// section cannot be parsed (the key then opens as missing), else empty.
// The Windows registry stores typed values only: always empty there.
std::string RegUnparsedValue(const char *subKey, const char *name);

}  // namespace vellor::reg
