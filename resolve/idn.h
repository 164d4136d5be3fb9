// Domain names in other scripts to their ASCII form for DNS (IDNA 2008, the
// A-label "xn--..."): libidn2 on Linux, the system's IdnToAscii on Windows
// (resolve/posix/idn.cpp, resolve/win32/idn.cpp, chosen by CMake).
#pragma once
#include <string>

namespace vellor::idn {

// The name as DNS knows it: an ASCII name as it is; a UTF-8 name by its
// A-labels; a name that cannot be converted as it is (its lookup then fails
// as usual).
std::string to_ascii(const std::string &name);

}  // namespace vellor::idn
