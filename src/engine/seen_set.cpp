#include "engine/seen_set.hpp"

#include <algorithm>
#include <array>
#include <limits>

#include "invariant.hpp"

namespace kiv {
namespace {

constexpr std::size_t kShardBits = 6;
constexpr std::size_t kShardCount = std::size_t{1} << kShardBits;
constexpr std::size_t kInitialCapacity = 16;  // slots per shard on its first insert

constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87ULL;
constexpr std::uint64_t kPrime2 = 0xC2B2AE3D27D4EB4FULL;
constexpr std::uint64_t kPrime3 = 0x165667B19E3779F9ULL;
constexpr std::uint64_t kSeedLo = 0x27D4EB2F165667C5ULL;
constexpr std::uint64_t kSeedHi = 0x85EBCA77C2B2AE63ULL;

constexpr std::uint64_t rotate_left(std::uint64_t value, int bits) { return (value << bits) | (value >> (64 - bits)); }

// The MurmurHash3 64-bit finaliser: every input bit affects every output bit.
constexpr std::uint64_t avalanche(std::uint64_t h) {
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDULL;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ULL;
    h ^= h >> 33;
    return h;
}

// One hash lane: an xxHash64-style accumulator (each round a bijection of
// the accumulator and of the word) over the ten words, then avalanched.
// The two lanes differ in seed and input multiplier, so they are independent.
std::uint64_t hash_lane(const Fingerprint& fingerprint, std::uint64_t seed, std::uint64_t multiplier) {
    std::uint64_t accumulator = seed;
    for (const std::int64_t word : fingerprint)
        accumulator = rotate_left(accumulator + static_cast<std::uint64_t>(word) * multiplier, 31) * kPrime1;
    return avalanche(accumulator);
}

// Shards by the high bits of `hi`; slots within a shard by `lo`, so the two
// choices are independent.
std::size_t shard_of(FingerprintKey key) { return static_cast<std::size_t>(key.hi >> (64 - kShardBits)); }

bool is_zero(FingerprintKey key) { return key.lo == 0 && key.hi == 0; }

}  // namespace

FingerprintKey digest(const Fingerprint& fingerprint) {
    return {hash_lane(fingerprint, kSeedLo, kPrime2), hash_lane(fingerprint, kSeedHi, kPrime3)};
}

SeenSet::SeenSet() : shards_(kShardCount), starts_(kShardCount + 1) {}

bool SeenSet::insert(FingerprintKey key) { return shards_[shard_of(key)].insert(key); }

void SeenSet::insert_batch(std::span<const FingerprintKey> keys, std::span<std::uint8_t> is_new,
                           const WorkerPool& workers) {
    if (keys.size() != is_new.size()) throw InvariantViolation("seen-set batch and result differ in length");
    if (keys.size() > std::numeric_limits<std::uint32_t>::max()) throw InvariantViolation("seen-set batch too large");

    // Counting sort of the batch indices by shard; ascending within a shard.
    std::fill(starts_.begin(), starts_.end(), 0);
    for (const FingerprintKey& key : keys) ++starts_[shard_of(key) + 1];
    for (std::size_t s = 0; s < kShardCount; ++s) starts_[s + 1] += starts_[s];
    std::array<std::size_t, kShardCount> cursor;
    std::copy(starts_.begin(), starts_.end() - 1, cursor.begin());
    order_.resize(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) order_[cursor[shard_of(keys[i])]++] = static_cast<std::uint32_t>(i);

    workers.parallel_for(kShardCount, [&](std::size_t s) {
        for (std::size_t position = starts_[s]; position < starts_[s + 1]; ++position) {
            const std::uint32_t i = order_[position];
            is_new[i] = shards_[s].insert(keys[i]) ? 1 : 0;
        }
    });
}

std::size_t SeenSet::size() const {
    std::size_t total = 0;
    for (const Shard& shard : shards_) total += shard.count + (shard.has_zero ? 1 : 0);
    return total;
}

bool SeenSet::Shard::insert(FingerprintKey key) {
    if (is_zero(key)) {
        const bool was_new = !has_zero;
        has_zero = true;
        return was_new;
    }
    if (slots.empty()) grow();
    std::size_t slot = find_slot(key);
    if (slots[slot] == key) return false;
    // Keep the load at or below 0.7 so probe runs stay short.
    if ((count + 1) * 10 > slots.size() * 7) {
        grow();
        slot = find_slot(key);
    }
    slots[slot] = key;
    ++count;
    return true;
}

std::size_t SeenSet::Shard::find_slot(FingerprintKey key) const {
    const std::size_t mask = slots.size() - 1;
    std::size_t slot = static_cast<std::size_t>(key.lo) & mask;
    while (!is_zero(slots[slot]) && !(slots[slot] == key)) slot = (slot + 1) & mask;
    return slot;
}

void SeenSet::Shard::grow() {
    std::vector<FingerprintKey> old = std::move(slots);
    slots.assign(old.empty() ? kInitialCapacity : old.size() * 2, FingerprintKey{});
    for (const FingerprintKey& key : old)
        if (!is_zero(key)) slots[find_slot(key)] = key;
}

}  // namespace kiv
