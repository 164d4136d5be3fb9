// Where the canonical body goes on its way to the hash: straight into it,
// or, for a large file read in blocks, gathered block by block and hashed on
// a second thread while the caller reads, checks and canonicalises the
// next block, so that the two halves of the work share the processor's
// cores. The bytes that lie in the block are kept as places in it (the
// caller keeps a block unchanged until the next block's end); the few the
// canonicaliser makes itself are copied. Relies on dkim/canon.h (the
// sink) and dkim/piece_worker.h (the thread).
#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "dkim/canon.h"
#include "dkim/piece_worker.h"

namespace vellor::dkim {

class BodyHashFeed final : public ByteSink {
public:
    BodyHashFeed(ByteSink &hash, bool background);
    BodyHashFeed(const BodyHashFeed &) = delete;
    BodyHashFeed &operator=(const BodyHashFeed &) = delete;
    // The block the next bytes come from, and its end.
    void begin_block(const char *block, std::size_t n);
    void end_block();
    void update(const char *data, std::size_t n) override;
    // Returns once every byte given is hashed.
    void finish();

private:
    struct Span {
        bool in_block;
        std::size_t at, n;
    };
    struct Gathered {
        const char *block = nullptr;
        std::vector<Span> spans;
        std::string own;  // the bytes not in the block
    };
    void hash(const Gathered &g);
    void hand_over();

    ByteSink &hash_;
    const char *block_ = nullptr;
    std::size_t block_n_ = 0;
    Gathered gathered_[2];  // one filled while the thread hashes the other
    int filling_ = 0;
    std::unique_ptr<PieceWorker> worker_;  // last: stopped before the rest goes
};

}  // namespace vellor::dkim
