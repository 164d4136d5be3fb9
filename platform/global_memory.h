// Global memory as the library uses it. On Linux the library's own
// Win32-compatible implementation (declared in vellorapi.h, with a fault seam
// that makes the Nth allocation, lock or reallocation fail); on Windows
// kernel32's, declared here with the types windows.h gives them so that the
// library's sources need not include windows.h.
#pragma once
#include <cstddef>
#include <type_traits>

#include "vellorapi.h"

#if defined(_WIN32)
extern "C" {
using vellor_win_size = std::conditional_t<sizeof(void *) == 8, unsigned long long, unsigned long>;
__declspec(dllimport) HGLOBAL __stdcall GlobalAlloc(unsigned int flags, vellor_win_size bytes);
__declspec(dllimport) HGLOBAL __stdcall GlobalReAlloc(HGLOBAL mem, vellor_win_size bytes, unsigned int flags);
__declspec(dllimport) void *__stdcall GlobalLock(HGLOBAL mem);
__declspec(dllimport) int __stdcall GlobalUnlock(HGLOBAL mem);
__declspec(dllimport) HGLOBAL __stdcall GlobalFree(HGLOBAL mem);
__declspec(dllimport) unsigned int __stdcall GlobalFlags(HGLOBAL mem);
__declspec(dllimport) vellor_win_size __stdcall GlobalSize(HGLOBAL mem);
}
#if !defined(GMEM_FIXED)
#define GMEM_FIXED          0x0
#define GMEM_MOVEABLE       0x2
#define GMEM_ZEROINIT       0x40
#define GHND                (GMEM_MOVEABLE | GMEM_ZEROINIT)
#define GPTR                (GMEM_FIXED | GMEM_ZEROINIT)
#define GMEM_LOCKCOUNT      0x00FF
#define GMEM_INVALID_HANDLE 0x8000
#endif
#endif

namespace vellor::gmem {

enum class Op { Alloc, Lock, ReAlloc };

// Make the nth call (1 = the next one) of the given operation fail; 0 disarms.
// (Linux only: kernel32's global memory has no such seam.)
void fail_nth(Op op, int n);
void reset_faults();
// Number of live blocks (for leak checks in tests).
std::size_t live_blocks();

}  // namespace vellor::gmem
