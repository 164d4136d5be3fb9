// Message boxes as standard-error lines; never blocks the process.
#include "platform/message_box.h"

#include <cstdio>
#include <string>

namespace vellor::ui {

int MessageBoxA(void *, const char *text, const char *caption, unsigned) {
    std::string line = caption ? caption : "";
    line += ": ";
    for (const char *p = text ? text : ""; *p; ++p) {
        if (p[0] == '\r' && p[1] == '\n') continue;  // CR LF counts as one break
        line += (*p == '\n' || *p == '\r') ? ' ' : *p;
    }
    line += '\n';
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    return IDOK;
}

}  // namespace vellor::ui
