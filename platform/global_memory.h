// Win32 global memory for Linux: handles, lock counts, and a fault seam that
// makes the Nth allocation, lock or reallocation fail. Thread-safe.
#pragma once
#include <cstddef>

namespace vellor::gmem {

enum class Op { Alloc, Lock, ReAlloc };

// Make the nth call (1 = the next one) of the given operation fail; 0 disarms.
void fail_nth(Op op, int n);
void reset_faults();
// Number of live blocks (for leak checks in tests).
std::size_t live_blocks();

}  // namespace vellor::gmem
