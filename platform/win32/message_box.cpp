// Message boxes through user32's MessageBoxA.
#include "platform/message_box.h"

#include <windows.h>

namespace vellor::ui {

int MessageBoxA(void *owner, const char *text, const char *caption, unsigned type) {
    return ::MessageBoxA(static_cast<HWND>(owner), text, caption, type);
}

}  // namespace vellor::ui
