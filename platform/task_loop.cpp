// The task loop (see task_loop.h): its turns, and the one wait of a turn on
// every task's socket.
#include "platform/task_loop.h"

#include <algorithm>
#include <exception>

namespace vellor::platform {

namespace {
using Clock = std::chrono::steady_clock;
// How often the loop looks whether a call run aside has returned: such
// calls (a connect, a lookup) take milliseconds themselves.
constexpr int kAsideLookMs = 1;
}  // namespace

TaskLoop::~TaskLoop() = default;

bool TaskLoop::add(std::function<void()> task) {
    auto t = std::make_unique<Task>();
    t->fiber = std::make_unique<Fiber>(std::move(task));
    if (!t->fiber->ready()) return false;
    tasks_.push_back(std::move(t));
    return true;
}

bool TaskLoop::in_task() const { return current_ != nullptr && std::this_thread::get_id() == thread_; }

void TaskLoop::park(Wait w) {
    Task *t = current_;
    t->wait = w;
    t->fiber->suspend();
    t->wait = Wait::None;
}

bool TaskLoop::wait_socket(unsigned socket, bool write, int ms) {
    current_->socket = socket;
    current_->write = write;
    current_->socket_ready = false;
    current_->until = Clock::now() + std::chrono::milliseconds(ms);
    Task *t = current_;
    park(Wait::Socket);
    return t->socket_ready;
}

void TaskLoop::wait_wake() { park(Wait::Wake); }

void TaskLoop::wake() {
    for (auto &t : tasks_)
        if (t->wait == Wait::Wake) t->ready = true;
}

void TaskLoop::aside(const std::function<void()> &call) {
    Task *t = current_;
    t->aside_done.store(false);
    std::exception_ptr failed;
    std::thread worker;
    try {
        worker = std::thread([&call, &failed, t] {
            try {
                call();
            } catch (...) {  // thrown again in the task, as if the call had run there
                failed = std::current_exception();
            }
            t->aside_done.store(true, std::memory_order_release);
        });
    } catch (const std::system_error &) {  // no thread to be had: the call holds the loop
        call();
        return;
    }
    park(Wait::Aside);
    worker.join();
    if (failed) std::rethrow_exception(failed);
}

bool TaskLoop::run(const std::function<void()> &between) {
    Fiber::Host host;
    if (!host.ready()) return false;
    thread_ = std::this_thread::get_id();
    for (auto &t : tasks_) t->ready = true;
    while (std::any_of(tasks_.begin(), tasks_.end(), [](auto &t) { return !t->fiber->finished(); })) {
        turn();
        between();
        wait_for_events();
    }
    return true;
}

// Every task that can go on goes on once.
void TaskLoop::turn() {
    for (auto &t : tasks_) {
        if (t->fiber->finished() || !t->ready) continue;
        t->ready = false;
        current_ = t.get();
        t->fiber->resume();
        current_ = nullptr;
    }
}

// How long the loop may wait for a socket: until the first task's wait runs
// out, not at all when a task can go on, briefly while a call runs aside.
int TaskLoop::wait_ms(bool &asides) const {
    auto now = Clock::now();
    auto first = now + std::chrono::hours(1);
    asides = false;
    for (auto &t : tasks_) {
        if (t->fiber->finished()) continue;
        if (t->ready) return 0;
        if (t->wait == Wait::Socket) first = std::min(first, t->until);
        asides = asides || t->wait == Wait::Aside;
    }
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(first - now).count() + 1;
    ms = std::max<decltype(ms)>(ms, 0);
    return static_cast<int>(asides ? std::min<decltype(ms)>(ms, kAsideLookMs) : ms);
}

// Waits for any task's socket, its time running out or a call aside
// returning, and marks the tasks that can go on.
void TaskLoop::wait_for_events() {
    bool asides = false;
    int ms = wait_ms(asides);
    std::vector<winsock::SocketWait> &waits = waits_;
    std::vector<Task *> &whose = whose_;
    waits.clear();
    whose.clear();
    for (auto &t : tasks_) {
        if (t->fiber->finished() || t->wait != Wait::Socket) continue;
        waits.push_back({t->socket, t->write, false});
        whose.push_back(t.get());
    }
    bool stuck = waits.empty() && !asides && ms > 0;  // no task can go on, and nothing can change that
    if (!waits.empty() || asides) winsock::wait_sockets(waits.data(), waits.size(), ms);
    auto now = Clock::now();
    for (std::size_t i = 0; i < waits.size(); ++i) {
        Task &t = *whose[i];
        t.socket_ready = waits[i].ready;
        t.ready = t.socket_ready || t.until <= now;
    }
    for (auto &t : tasks_) {
        if (t->wait == Wait::Aside && t->aside_done.load(std::memory_order_acquire)) t->ready = true;
        // Nothing else could wake a task waiting for a wake: it looks again.
        if (t->wait == Wait::Wake && stuck) t->ready = true;
    }
}

}  // namespace vellor::platform
