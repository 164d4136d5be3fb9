// Report printing for the vellor tool.
#include "report_output.h"
#include "system.h"

#include <cstdio>
#include <cstdlib>

namespace cli {
namespace {

Output g_mode = Output::Lines;
bool g_verbose = false;
bool g_bar_open = false;

void progress_bar(int percent) {
    if (!sys::stderr_is_terminal()) {
        if (g_verbose) std::fprintf(stderr, "sent %d%%\n", percent);
        return;
    }
    int filled = percent / 5;
    std::fprintf(stderr, "\r[%-20.*s] %3d%%", filled, "####################", percent);
    g_bar_open = percent < 100;
    if (!g_bar_open) std::fputc('\n', stderr);
    std::fflush(stderr);
}

}  // namespace

void set_output(Output mode, bool verbose) {
    g_mode = mode;
    g_verbose = verbose;
}

void finish_progress() {
    if (g_bar_open) std::fputc('\n', stderr);
    g_bar_open = false;
}

std::string json_string(const std::string &text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);  // 8-bit text passes as it is
                }
        }
    }
    return out + "\"";
}

int32_t VELLOR_CALLBACK print_report(SMTPSEND_STRUCTURE *, int32_t status, const char *text, int32_t code) {
    std::string t = text ? text : "";
    switch (g_mode) {
        case Output::Quiet:
            return 0;
        case Output::Json:
            std::printf("{\"status\": %d, \"code\": %d, \"text\": %s}\n", status, code, json_string(t).c_str());
            std::fflush(stdout);
            return 0;
        case Output::Lines:
            break;
    }
    if (status == VELLOR_STATUS_PERCENT) {
        progress_bar(std::atoi(t.c_str()));
        return 0;
    }
    finish_progress();
    if (status == VELLOR_STATUS_FAILURE)
        std::printf("FAILED %d: %s\n", code, t.c_str());
    else if (status == VELLOR_STATUS_DELIVERED)
        std::printf("SENT: %s\n", t.c_str());
    else
        std::printf("  %s\n", t.c_str());
    std::fflush(stdout);
    return 0;
}

}  // namespace cli
