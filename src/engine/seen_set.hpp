// SeenSet: every fingerprint generated so far in one search, stored as a
// 128-bit digest (16 bytes per entry instead of 80; with the ~10^7 entries of
// a large search the chance that two different fingerprints share a digest
// is below 1e-24).
//
// The set is split into shards by digest. insert_batch inserts a batch with
// one worker per shard, each walking its keys in batch order, so of equal
// keys the earliest in the batch is the one reported new, whatever the
// thread timing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/signature.hpp"
#include "engine/parallel.hpp"

namespace kiv {

struct FingerprintKey {
    std::uint64_t lo = 0;
    std::uint64_t hi = 0;
    friend bool operator==(const FingerprintKey&, const FingerprintKey&) = default;
};

// A 128-bit hash of the fingerprint: two independent 64-bit lanes.
FingerprintKey digest(const Fingerprint& fingerprint);

class SeenSet {
public:
    SeenSet();

    // Inserts `key`; true when it was not in the set before. Not thread-safe.
    bool insert(FingerprintKey key);

    // Inserts keys[i] for every i and sets is_new[i] to whether keys[i] was
    // neither in the set nor earlier in the batch. Parallel over shards.
    void insert_batch(std::span<const FingerprintKey> keys, std::span<std::uint8_t> is_new, const WorkerPool& workers);

    // Number of distinct keys inserted so far.
    std::size_t size() const;

private:
    // Open addressing with linear probing; an all-zero key marks an empty
    // slot, so the zero digest is remembered in a flag of its own.
    struct Shard {
        std::vector<FingerprintKey> slots;
        std::size_t count = 0;
        bool has_zero = false;
        // Inserts `key`; true when it was not in the shard before.
        bool insert(FingerprintKey key);
        // The slot holding `key`, or the empty slot where it belongs. Needs slots.
        std::size_t find_slot(FingerprintKey key) const;
        // Doubles the capacity (or allocates the first slots) and rehashes.
        void grow();
    };

    std::vector<Shard> shards_;
    std::vector<std::uint32_t> order_;  // batch indices grouped by shard
    std::vector<std::size_t> starts_;   // first position of each shard in order_
};

}  // namespace kiv
