// Fibers over the Windows fiber calls. The thread that resumes them is
// converted to a fiber for as long as its Host lives (unless it already was
// one), and converted back after.
#include "platform/fiber.h"

#include <windows.h>

namespace vellor::platform {

namespace {
constexpr SIZE_T kStack = 2u << 20;  // reserved, committed as the body uses it
}  // namespace

struct Fiber::State {
    std::function<void()> body;
    void *own = nullptr, *back = nullptr;
    bool finished = false;

    static void WINAPI entry(void *param) {
        auto *s = static_cast<State *>(param);
        try {
            s->body();
        } catch (...) {  // a body handles its own failures; nothing may unwind past here
        }
        s->finished = true;
        SwitchToFiber(s->back);
    }
};

Fiber::Fiber(std::function<void()> body) : s_(std::make_unique<State>()) {
    s_->body = std::move(body);
    s_->own = CreateFiberEx(0, kStack, FIBER_FLAG_FLOAT_SWITCH, &State::entry, s_.get());
}

Fiber::~Fiber() {
    if (s_->own) DeleteFiber(s_->own);
}

bool Fiber::ready() const { return s_->own != nullptr; }
bool Fiber::finished() const { return s_->finished; }

// GCC takes the thread block read of GetCurrentFiber for an array overrun.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
void Fiber::resume() {
    s_->back = GetCurrentFiber();
    SwitchToFiber(s_->own);
}
#pragma GCC diagnostic pop

void Fiber::suspend() { SwitchToFiber(s_->back); }

Fiber::Host::Host() {
    if (!IsThreadAFiber()) converted_ = ConvertThreadToFiberEx(nullptr, FIBER_FLAG_FLOAT_SWITCH) != nullptr;
    ready_ = converted_ || IsThreadAFiber();
}

Fiber::Host::~Host() {
    if (converted_) ConvertFiberToThread();
}

}  // namespace vellor::platform
