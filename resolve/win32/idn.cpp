// IDNA with the system's IdnToAscii (normaliz): UTF-8 to UTF-16, A-labels,
// back to bytes.
#include "resolve/idn.h"

#include <windows.h>

#include <string>

namespace vellor::idn {

std::string to_ascii(const std::string &name) {
    bool ascii = true;
    for (char c : name) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) return name;
    wchar_t wide[256], out[256];
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(), static_cast<int>(name.size()), wide, 255);
    if (n <= 0) return name;
    int m = IdnToAscii(0, wide, n, out, 255);
    if (m <= 0) return name;
    std::string label;
    for (int i = 0; i < m; ++i) label += static_cast<char>(out[i]);  // A-labels are ASCII
    return label;
}

}  // namespace vellor::idn
