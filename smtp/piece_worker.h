// A second thread that consumes pieces of text one at a time, in order, while
// the caller goes on: reading a large message file's next block while the
// DKIM body hash takes the last one. A piece stays unchanged, and its memory
// alive, until the next give() or finish() returns. Every wait is for the
// consumer's own work on one piece (no I/O, no network), so it is bounded by
// that work. When no thread can be started, the pieces are consumed at once
// on the caller's thread instead. Relies on the standard library's threads.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace vellor::smtp {

class PieceWorker {
public:
    using Consume = std::function<void(const char *, std::size_t)>;
    explicit PieceWorker(Consume consume);
    ~PieceWorker();  // after the piece in hand is done
    PieceWorker(const PieceWorker &) = delete;
    PieceWorker &operator=(const PieceWorker &) = delete;

    // Hands over the next piece once the last one is done.
    void give(const char *text, std::size_t n);
    // Returns once every piece given is done (an exception thrown by the
    // consumer is thrown here, or by the next give()).
    void finish();

private:
    void run();
    void wait_done(std::unique_lock<std::mutex> &lock);

    Consume consume_;
    std::mutex mutex_;
    std::condition_variable changed_;
    const char *text_ = nullptr;
    std::size_t n_ = 0;
    bool busy_ = false, stop_ = false;
    std::exception_ptr failed_;
    std::thread thread_;
};

}  // namespace vellor::smtp
