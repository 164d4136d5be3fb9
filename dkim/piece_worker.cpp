// The working thread and its hand-over (see piece_worker.h).
#include "dkim/piece_worker.h"

#include <system_error>
#include <utility>

namespace vellor::dkim {

PieceWorker::PieceWorker() {
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error &) {  // no thread: give() consumes on the caller's thread
    }
}

PieceWorker::~PieceWorker() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void PieceWorker::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return busy_ || stop_; });
        if (!busy_) return;  // stopped with nothing in hand
        lock.unlock();
        std::exception_ptr failed;
        try {
            job_();
        } catch (...) {
            failed = std::current_exception();
        }
        lock.lock();
        if (failed && !failed_) failed_ = failed;
        busy_ = false;
        changed_.notify_all();
    }
}

void PieceWorker::wait_done(std::unique_lock<std::mutex> &lock) {
    changed_.wait(lock, [this] { return !busy_; });
    if (failed_) std::rethrow_exception(std::exchange(failed_, nullptr));
}

void PieceWorker::give(std::function<void()> job) {
    if (!thread_.joinable()) {
        job();
        return;
    }
    {
        std::unique_lock<std::mutex> lock(mutex_);
        wait_done(lock);
        job_ = std::move(job);
        busy_ = true;
    }
    changed_.notify_all();
}

void PieceWorker::finish() {
    if (!thread_.joinable()) return;
    std::unique_lock<std::mutex> lock(mutex_);
    wait_done(lock);
}

}  // namespace vellor::dkim
