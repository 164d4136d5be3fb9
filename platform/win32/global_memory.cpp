// Global memory on Windows is kernel32's own: the library exports none and
// applications use the system's GlobalAlloc family. The Linux fault seam has
// no counterpart here; its calls do nothing.
#include "platform/global_memory.h"

namespace vellor::gmem {

void fail_nth(Op, int) {}
void reset_faults() {}
std::size_t live_blocks() { return 0; }

}  // namespace vellor::gmem
