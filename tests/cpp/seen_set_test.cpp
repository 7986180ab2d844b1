#include "engine/seen_set.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "test_util.hpp"

namespace kiv {
namespace {

using KeySet = std::set<std::pair<std::uint64_t, std::uint64_t>>;

Fingerprint fingerprint_of(std::int64_t seed) {
    Fingerprint fingerprint{};
    for (std::size_t i = 0; i < fingerprint.size(); ++i) fingerprint[i] = seed * 31 + static_cast<std::int64_t>(i);
    return fingerprint;
}

TEST(SeenSet, InsertReportsNewOnlyTheFirstTimeForEveryKey) {
    struct Row {
        const char* name;
        std::vector<FingerprintKey> keys;
    };
    std::vector<FingerprintKey> many, nearby, same_probe_start;
    for (std::int64_t i = 0; i < 200'000; ++i) many.push_back(digest(fingerprint_of(i)));  // the table grows
    // A weak digest would make nearby fingerprints collide, and the search
    // would drop a candidate as already seen.
    for (std::int64_t a = -50; a < 50; ++a)
        for (std::int64_t b = -50; b < 50; ++b) nearby.push_back(digest(Fingerprint{a, 0, 0, 0, 0, 0, 0, 0, 0, b}));
    // Same probe start in every shard: long linear probe runs and wraps.
    for (std::uint64_t hi = 1; hi <= 5000; ++hi) same_probe_start.push_back({7, hi * 0x9E3779B97F4A7C15ULL});
    const Row rows[] = {
        // The all-zero key also marks empty slots, so it needs its own handling.
        {"zero key and keys differing in one half", {{0, 0}, {1, 0}, {0, 1}, {1, 1}, {1, 2}, {2, 1}}},
        {"growth", many},
        {"nearby fingerprints", nearby},
        {"same probe start", same_probe_start},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SeenSet set;
        for (const FingerprintKey& key : row.keys) ASSERT_TRUE(set.insert(key)) << key.lo << ", " << key.hi;
        for (const FingerprintKey& key : row.keys) ASSERT_FALSE(set.insert(key)) << key.lo << ", " << key.hi;
        EXPECT_EQ(set.size(), row.keys.size());
    }
}

class SeenSetBatch : public ThreadCountTest {};

TEST_P(SeenSetBatch, BatchesReportExactlyTheFirstOccurrencesOfKeysNotSeenBefore) {
    SeenSet set;
    KeySet model;
    std::vector<std::uint8_t> is_new, expected;
    // Repeated batches of varying size reuse the set's grouping buffers.
    for (const std::size_t count : {50'000u, 10u, 0u, 80'000u}) {
        SCOPED_TRACE(count);
        // Keys drawn from 60 000 fingerprints, so most repeat.
        std::mt19937_64 generator(count);
        std::uniform_int_distribution<std::int64_t> pick(0, 59'999);
        std::vector<FingerprintKey> keys;
        expected.clear();
        for (std::size_t i = 0; i < count; ++i) {
            // The all-zero key, which also marks empty slots, now and then.
            keys.push_back(i % 1000 == 7 ? FingerprintKey{} : digest(fingerprint_of(pick(generator))));
            expected.push_back(model.insert({keys.back().lo, keys.back().hi}).second ? 1 : 0);
        }
        is_new.assign(keys.size(), 2);
        set.insert_batch(keys, is_new);
        EXPECT_EQ(is_new, expected);
        EXPECT_EQ(set.size(), model.size());
    }
}

INSTANTIATE_THREAD_COUNTS(SeenSetBatch);

}  // namespace
}  // namespace kiv
