// Global memory as an application sees it: kernel32's on Windows (from
// windows.h), the library's own Win32-compatible functions elsewhere.
#pragma once
#if defined(_WIN32)
#include <windows.h>
#endif
#include "vellorapi.h"
