// Win32-compatible global memory (GlobalAlloc and friends), exported for the
// application's recipient lists and message blocks. Every live handle is kept
// in a table under one mutex, so a bad handle fails cleanly instead of
// crashing. Fixed blocks are their own handle; moveable blocks get a distinct
// handle and a lock count. Relies on the C library allocator, and on
// anonymous mappings (with transparent huge pages) for blocks of 2 MiB and
// more, such as a loaded message file.
#include "common/export_guard.h"
#include "platform/global_memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "vellorapi.h"

namespace vellor::gmem {
namespace {

struct Block {
    void *data = nullptr;
    std::size_t size = 0;
    bool moveable = false;
    unsigned locks = 0;
    std::size_t mapped = 0;  // length of an anonymous mapping, 0 for heap memory
};

struct State {
    std::mutex mu;
    std::unordered_map<void *, Block> blocks;  // handle -> block
    int fail_at[3] = {0, 0, 0};
    std::uintptr_t next_token = 0x1000;
};

State &state() {
    static State *s = new State;  // never destroyed: usable during exit
    return *s;
}

// Counts one call of op; true when this call is the one armed to fail.
bool injected(State &s, Op op) {
    int &n = s.fail_at[static_cast<int>(op)];
    if (n <= 0) return false;
    return --n == 0;
}

constexpr std::size_t kHuge = 2u << 20;

// Heap memory, or for blocks of 2 MiB and more an anonymous mapping (zero
// by nature) backed by transparent huge pages where the system allows.
void *allocate(std::size_t bytes, bool zero, std::size_t &mapped) {
    std::size_t n = bytes ? bytes : 1;
    mapped = 0;
    if (n >= kHuge) {
        std::size_t length = (n + kHuge - 1) / kHuge * kHuge;
        void *p = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p != MAP_FAILED) {
            ::madvise(p, length, MADV_HUGEPAGE);
            mapped = length;
            return p;
        }
    }
    return zero ? std::calloc(1, n) : std::malloc(n);
}

void release(const Block &b) {
    if (b.mapped)
        ::munmap(b.data, b.mapped);
    else
        std::free(b.data);
}

// Registers a moveable block under a handle of its own.
void *register_moveable(State &s, const Block &b) {
    s.next_token += 16;
    void *handle = reinterpret_cast<void *>(s.next_token);
    s.blocks[handle] = b;
    return handle;
}

}  // namespace

void fail_nth(Op op, int n) {
    State &s = state();
    std::lock_guard<std::mutex> g(s.mu);
    s.fail_at[static_cast<int>(op)] = n;
}

void reset_faults() {
    State &s = state();
    std::lock_guard<std::mutex> g(s.mu);
    for (int &n : s.fail_at) n = 0;
}

std::size_t live_blocks() {
    State &s = state();
    std::lock_guard<std::mutex> g(s.mu);
    return s.blocks.size();
}

}  // namespace vellor::gmem

using vellor::gmem::Block;
using vellor::gmem::Op;

extern "C" {

VELLOR_API HGLOBAL GlobalAlloc(uint32_t flags, size_t bytes) {
    return vellor::guarded(static_cast<HGLOBAL>(nullptr), [&]() -> HGLOBAL {
        auto &s = vellor::gmem::state();
        std::lock_guard<std::mutex> g(s.mu);
        if (vellor::gmem::injected(s, Op::Alloc)) return nullptr;
        std::size_t mapped = 0;
        void *data = vellor::gmem::allocate(bytes, flags & GMEM_ZEROINIT, mapped);
        if (!data) return nullptr;
        Block b{data, bytes, (flags & GMEM_MOVEABLE) != 0, 0, mapped};
        if (b.moveable) return vellor::gmem::register_moveable(s, b);
        s.blocks[data] = b;
        return data;
    });
}

VELLOR_API void *GlobalLock(HGLOBAL mem) {
    return vellor::guarded(static_cast<void *>(nullptr), [&]() -> void * {
        auto &s = vellor::gmem::state();
        std::lock_guard<std::mutex> g(s.mu);
        auto it = s.blocks.find(mem);
        if (it == s.blocks.end()) return nullptr;
        if (vellor::gmem::injected(s, Op::Lock)) return nullptr;
        Block &b = it->second;
        if (b.moveable && b.locks < GMEM_LOCKCOUNT) ++b.locks;
        return b.data;
    });
}

VELLOR_API int32_t GlobalUnlock(HGLOBAL mem) {
    return vellor::guarded(static_cast<int32_t>(0), [&]() -> int32_t {
        auto &s = vellor::gmem::state();
        std::lock_guard<std::mutex> g(s.mu);
        auto it = s.blocks.find(mem);
        if (it == s.blocks.end() || !it->second.moveable || it->second.locks == 0) return 0;
        return --it->second.locks != 0;
    });
}

VELLOR_API HGLOBAL GlobalFree(HGLOBAL mem) {
    return vellor::guarded(static_cast<HGLOBAL>(nullptr), [&]() -> HGLOBAL {
        auto &s = vellor::gmem::state();
        std::lock_guard<std::mutex> g(s.mu);
        auto it = s.blocks.find(mem);
        if (it == s.blocks.end()) return mem;
        vellor::gmem::release(it->second);
        s.blocks.erase(it);
        return nullptr;
    });
}

VELLOR_API uint32_t GlobalFlags(HGLOBAL mem) {
    return vellor::guarded(static_cast<uint32_t>(GMEM_INVALID_HANDLE), [&]() -> uint32_t {
        auto &s = vellor::gmem::state();
        std::lock_guard<std::mutex> g(s.mu);
        auto it = s.blocks.find(mem);
        if (it == s.blocks.end()) return GMEM_INVALID_HANDLE;
        return it->second.locks & GMEM_LOCKCOUNT;
    });
}

VELLOR_API size_t GlobalSize(HGLOBAL mem) {
    return vellor::guarded(static_cast<size_t>(0), [&]() -> size_t {
        auto &s = vellor::gmem::state();
        std::lock_guard<std::mutex> g(s.mu);
        auto it = s.blocks.find(mem);
        return it == s.blocks.end() ? 0 : it->second.size;
    });
}

VELLOR_API HGLOBAL GlobalReAlloc(HGLOBAL mem, size_t bytes, uint32_t flags) {
    return vellor::guarded(static_cast<HGLOBAL>(nullptr), [&]() -> HGLOBAL {
        auto &s = vellor::gmem::state();
        std::lock_guard<std::mutex> g(s.mu);
        auto it = s.blocks.find(mem);
        if (it == s.blocks.end()) return nullptr;
        if (vellor::gmem::injected(s, Op::ReAlloc)) return nullptr;
        Block b = it->second;
        // A fixed block moves only when the caller allows it, as on Win32.
        if (!b.moveable && !(flags & GMEM_MOVEABLE) && bytes > b.size) return nullptr;
        void *data;
        if (b.mapped) {  // a mapped block moves to the heap
            data = std::malloc(bytes ? bytes : 1);
            if (!data) return nullptr;
            std::memcpy(data, b.data, std::min(bytes, b.size));
            vellor::gmem::release(b);
            b.mapped = 0;
        } else {
            data = std::realloc(b.data, bytes ? bytes : 1);
            if (!data) return nullptr;
        }
        if ((flags & GMEM_ZEROINIT) && bytes > b.size)
            std::memset(static_cast<char *>(data) + b.size, 0, bytes - b.size);
        b.data = data;
        b.size = bytes;
        if (b.moveable) {
            it->second = b;
            return mem;
        }
        s.blocks.erase(it);
        s.blocks[data] = b;
        return data;
    });
}

}  // extern "C"
