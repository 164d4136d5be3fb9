// A fiber: a body run on a stack of its own that one thread switches to and
// back from, so that several bodies written as plain blocking code can share
// the thread (platform/task_loop.h). The thread that resumes a fiber is the
// one it suspends back to, and it resumes fibers only from its own stack,
// never from inside another fiber. Sanitizer builds are told of every
// switch. Relies on the system's contexts (ucontext on POSIX systems, the
// fiber calls on Windows).
#pragma once
#include <functional>
#include <memory>

namespace vellor::platform {

class Fiber {
public:
    // A fiber not started yet; ready() is false when no stack could be had.
    explicit Fiber(std::function<void()> body);
    ~Fiber();
    Fiber(const Fiber &) = delete;
    Fiber &operator=(const Fiber &) = delete;

    bool ready() const;
    // Runs the body from where it last suspended until it suspends again or
    // ends. Not to be called once finished().
    void resume();
    // Inside the body: back to the caller of resume().
    void suspend();
    // The body has returned (an exception leaving it is dropped there).
    bool finished() const;

    // What a thread does before it resumes fibers and after it is done
    // with them (Windows converts the thread to a fiber and back).
    class Host {
    public:
        Host();
        ~Host();
        Host(const Host &) = delete;
        Host &operator=(const Host &) = delete;
        // The thread can resume fibers.
        bool ready() const { return ready_; }

    private:
        bool converted_ = false;
        bool ready_ = true;
    };

    struct State;

private:
    std::unique_ptr<State> s_;
};

}  // namespace vellor::platform
