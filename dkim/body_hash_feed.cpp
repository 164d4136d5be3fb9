// The canonical body gathered for the hashing thread (see body_hash_feed.h).
#include "dkim/body_hash_feed.h"

#include <cstdint>

namespace vellor::dkim {

BodyHashFeed::BodyHashFeed(ByteSink &hash, bool background) : hash_(hash) {
    if (background) worker_ = std::make_unique<PieceWorker>();
}

void BodyHashFeed::begin_block(const char *block, std::size_t n) {
    block_ = block;
    block_n_ = n;
}

void BodyHashFeed::update(const char *data, std::size_t n) {
    if (!worker_) {
        hash_.update(data, n);
        return;
    }
    Gathered &g = gathered_[filling_];
    auto at = reinterpret_cast<std::uintptr_t>(data), start = reinterpret_cast<std::uintptr_t>(block_);
    if (block_ && at >= start && at + n <= start + block_n_) {
        g.spans.push_back({true, at - start, n});
        return;
    }
    g.spans.push_back({false, g.own.size(), n});
    g.own.append(data, n);
}

void BodyHashFeed::hash(const Gathered &g) {
    for (const Span &s : g.spans) hash_.update((s.in_block ? g.block : g.own.data()) + s.at, s.n);
}

void BodyHashFeed::hand_over() {
    Gathered &g = gathered_[filling_];
    g.block = block_;
    worker_->give([this, &g] { hash(g); });  // the other one is hashed by now
    filling_ ^= 1;
    gathered_[filling_].spans.clear();
    gathered_[filling_].own.clear();
}

void BodyHashFeed::end_block() {
    if (worker_) hand_over();
    block_ = nullptr;
    block_n_ = 0;
}

void BodyHashFeed::finish() {
    if (!worker_) return;
    hand_over();  // what the canonicaliser gave after the last block
    worker_->finish();
}

}  // namespace vellor::dkim
