// Fibers over ucontext, each on a stack mapped for it with a guard page
// below, so that a body running past its stack faults instead of writing
// over memory. AddressSanitizer and ThreadSanitizer are told of each
// switch in builds that use them.
#include "platform/fiber.h"

#include <sys/mman.h>
#include <ucontext.h>

#include <cstdint>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#define VELLOR_FIBER_ASAN 1
#endif
#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#define VELLOR_FIBER_TSAN 1
#endif

namespace vellor::platform {

namespace {
constexpr std::size_t kStack = 2u << 20;  // mapped, not committed: a body touches what it uses
constexpr std::size_t kGuard = 4096;
}  // namespace

struct Fiber::State {
    std::function<void()> body;
    ucontext_t own{}, back{};
    void *stack = nullptr;
    bool finished = false;
#ifdef VELLOR_FIBER_ASAN
    void *fake = nullptr;  // the stack being left's fake stack
    const void *back_bottom = nullptr;
    std::size_t back_size = 0;
#endif
#ifdef VELLOR_FIBER_TSAN
    void *tsan_own = nullptr, *tsan_back = nullptr;
#endif

    // Leaving this fiber for the thread's own stack (`ending`: for good).
    void to_back([[maybe_unused]] bool ending) {
#ifdef VELLOR_FIBER_ASAN
        __sanitizer_start_switch_fiber(ending ? nullptr : &fake, back_bottom, back_size);
#endif
#ifdef VELLOR_FIBER_TSAN
        __tsan_switch_to_fiber(tsan_back, 0);
#endif
        swapcontext(&own, &back);
        arrived();
    }
    // Just switched to this fiber's stack.
    void arrived() {
#ifdef VELLOR_FIBER_ASAN
        __sanitizer_finish_switch_fiber(fake, &back_bottom, &back_size);
#endif
    }

    static void entry(unsigned hi, unsigned lo) {
        auto *s = reinterpret_cast<State *>((static_cast<std::uintptr_t>(hi) << 32) | lo);
        s->arrived();
        try {
            s->body();
        } catch (...) {  // a body handles its own failures; nothing may unwind past here
        }
        s->finished = true;
        s->to_back(true);
    }
};

Fiber::Fiber(std::function<void()> body) : s_(std::make_unique<State>()) {
    s_->body = std::move(body);
    void *m =
        mmap(nullptr, kStack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
    if (m == MAP_FAILED) return;
    mprotect(m, kGuard, PROT_NONE);
    s_->stack = m;
    getcontext(&s_->own);
    s_->own.uc_stack.ss_sp = m;
    s_->own.uc_stack.ss_size = kStack;
    s_->own.uc_link = nullptr;
    auto p = reinterpret_cast<std::uintptr_t>(s_.get());
    makecontext(&s_->own, reinterpret_cast<void (*)()>(&State::entry), 2, static_cast<unsigned>(p >> 32),
                static_cast<unsigned>(p & 0xffffffffu));
#ifdef VELLOR_FIBER_TSAN
    s_->tsan_own = __tsan_create_fiber(0);
#endif
}

Fiber::~Fiber() {
#ifdef VELLOR_FIBER_TSAN
    if (s_->tsan_own) __tsan_destroy_fiber(s_->tsan_own);
#endif
    if (s_->stack) munmap(s_->stack, kStack);
}

bool Fiber::ready() const { return s_->stack != nullptr; }
bool Fiber::finished() const { return s_->finished; }

void Fiber::resume() {
    State &s = *s_;
#ifdef VELLOR_FIBER_ASAN
    void *fake = nullptr;
    __sanitizer_start_switch_fiber(&fake, s.stack, kStack);
#endif
#ifdef VELLOR_FIBER_TSAN
    s.tsan_back = __tsan_get_current_fiber();
    __tsan_switch_to_fiber(s.tsan_own, 0);
#endif
    swapcontext(&s.back, &s.own);
#ifdef VELLOR_FIBER_ASAN
    __sanitizer_finish_switch_fiber(fake, nullptr, nullptr);
#endif
}

void Fiber::suspend() { s_->to_back(false); }

Fiber::Host::Host() = default;
Fiber::Host::~Host() = default;

}  // namespace vellor::platform
