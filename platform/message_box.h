// MessageBoxA for Linux: one line "<caption>: <text>" on standard error, line
// breaks replaced by one blank; returns at once as if OK were pressed.
#pragma once

namespace vellor::ui {

constexpr unsigned MB_OK = 0x0, MB_ICONQUESTION = 0x20, MB_SYSTEMMODAL = 0x1000;
constexpr int IDOK = 1;

int MessageBoxA(void *owner, const char *text, const char *caption, unsigned type);

}  // namespace vellor::ui
