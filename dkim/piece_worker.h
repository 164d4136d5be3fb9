// A second thread that runs jobs one at a time, in order, while the caller
// goes on: the DKIM body hash of a large message file's last block while
// the next block is read, checked and canonicalised. A job is handed over
// only once the one before it is done, so what a job reads must stay
// unchanged until the next give() or finish() returns. Every wait is for the
// worker's own work on one job (no I/O, no network), so it is bounded by
// that work. When no thread can be started, each job runs at once on the
// caller's thread. Relies on the standard library's threads.
#pragma once
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace vellor::dkim {

class PieceWorker {
public:
    PieceWorker();
    ~PieceWorker();  // after the job in hand is done
    PieceWorker(const PieceWorker &) = delete;
    PieceWorker &operator=(const PieceWorker &) = delete;

    // Hands over the next job once the last one is done.
    void give(std::function<void()> job);
    // Returns once every job given is done (an exception thrown by a job is
    // thrown here, or by the next give()).
    void finish();

private:
    void run();
    void wait_done(std::unique_lock<std::mutex> &lock);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<void()> job_;
    bool busy_ = false, stop_ = false;
    std::exception_ptr failed_;
    std::thread thread_;
};

}  // namespace vellor::dkim
