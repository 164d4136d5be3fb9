// One thread driving several tasks at once, each written as plain blocking
// code: a task runs as a fiber (platform/fiber.h), and where it would wait
// on a socket it gives the thread back to the loop, which waits on every
// task's socket at once and resumes each task whose socket is ready or
// whose wait ran out. A task waits only here: on a socket, for another
// task's wake(), or for a call run aside on a thread of its own. Nothing of
// a loop is process-wide or per thread: whoever runs it owns it and hands
// it down to what its tasks use (a connection's byte path,
// transport/wire.h). Relies on the platform's socket wait (winsock.h).
#pragma once
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "platform/fiber.h"
#include "platform/winsock.h"

namespace vellor::platform {

class TaskLoop {
public:
    TaskLoop() = default;
    ~TaskLoop();
    TaskLoop(const TaskLoop &) = delete;
    TaskLoop &operator=(const TaskLoop &) = delete;

    // A task for run(); false when no fiber could be made for it (it will
    // not run).
    bool add(std::function<void()> task);
    // Runs the tasks until every one has ended, calling `between` after
    // each turn (every task that could go on has gone on once), on the
    // loop's thread and outside any task. False, running nothing, when
    // this thread cannot run fibers.
    bool run(const std::function<void()> &between);

    // Whether the caller is one of this loop's tasks, on its thread (a
    // call run aside is not).
    bool in_task() const;
    // Inside a task: waits until `socket` is readable (or writable, with
    // `write`) or `ms` milliseconds pass; true when it is ready.
    bool wait_socket(unsigned socket, bool write, int ms);
    // Inside a task: waits until another task calls wake(). A task that
    // nothing can wake any more (every other task waits here too) is
    // woken by the loop.
    void wait_wake();
    // Wakes every task in wait_wake().
    void wake();
    // Inside a task: runs `call` on a thread of its own while the other
    // tasks go on, and returns when it has returned (at once, on this
    // thread, when no thread can be had); what it throws is thrown here.
    // `call` must not use the loop.
    void aside(const std::function<void()> &call);

private:
    enum class Wait { None, Socket, Wake, Aside };
    struct Task {
        std::unique_ptr<Fiber> fiber;
        Wait wait = Wait::None;
        unsigned socket = 0;
        bool write = false;
        bool ready = false;         // it can go on at the next turn
        bool socket_ready = false;  // its socket wait ended with the socket ready
        std::chrono::steady_clock::time_point until;
        std::atomic<bool> aside_done{false};  // its call run aside has returned (set by that call's thread)
    };
    void turn();
    void wait_for_events();
    int wait_ms(bool &asides) const;
    void park(Wait w);

    std::vector<std::unique_ptr<Task>> tasks_;
    std::vector<winsock::SocketWait> waits_;  // a turn's socket waits, kept between turns
    std::vector<Task *> whose_;               // the task of each of them
    Task *current_ = nullptr;
    std::thread::id thread_;
};

}  // namespace vellor::platform
