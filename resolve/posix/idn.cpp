// IDNA 2008 with libidn2 (UTS 46 mapping, non-transitional: "ß" stays).
#include "resolve/idn.h"

#include <idn2.h>

#include <cstdlib>

namespace vellor::idn {

std::string to_ascii(const std::string &name) {
    bool ascii = true;
    for (char c : name) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) return name;
    char *out = nullptr;
    if (idn2_to_ascii_8z(name.c_str(), &out, IDN2_NONTRANSITIONAL) != IDN2_OK) return name;
    std::string label(out);
    idn2_free(out);
    return label;
}

}  // namespace vellor::idn
