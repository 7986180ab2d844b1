#include "engine/seen_set.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "thread_count.hpp"

namespace kiv {
namespace {

using KeySet = std::set<std::pair<std::uint64_t, std::uint64_t>>;

Fingerprint fingerprint_of(std::int64_t seed) {
    Fingerprint fingerprint{};
    for (std::size_t i = 0; i < fingerprint.size(); ++i) fingerprint[i] = seed * 31 + static_cast<std::int64_t>(i);
    return fingerprint;
}

TEST(Digest, OneWordChangeFlipsAboutHalfOfTheBits) {
    // A weak mix would leave whole regions of the digest unchanged.
    const Fingerprint base = fingerprint_of(5);
    const FingerprintKey base_key = digest(base);
    for (std::size_t word = 0; word < base.size(); ++word) {
        for (const std::int64_t delta : {std::int64_t{1}, std::int64_t{-1}, std::int64_t{1} << 40}) {
            SCOPED_TRACE(testing::Message() << "word " << word << " delta " << delta);
            Fingerprint changed = base;
            changed[word] += delta;
            const FingerprintKey key = digest(changed);
            EXPECT_GE(std::popcount(key.lo ^ base_key.lo), 16);
            EXPECT_GE(std::popcount(key.hi ^ base_key.hi), 16);
        }
    }
}

TEST(Digest, ManySmallFingerprintsHaveDistinctDigests) {
    KeySet seen;
    for (std::int64_t a = -50; a < 50; ++a)
        for (std::int64_t b = -50; b < 50; ++b) {
            Fingerprint fingerprint{};
            fingerprint[0] = a;
            fingerprint[9] = b;
            const FingerprintKey key = digest(fingerprint);
            EXPECT_TRUE(seen.insert({key.lo, key.hi}).second) << a << ", " << b;
        }
}

TEST(SeenSet, InsertReportsNewOnlyTheFirstTimeForEveryKey) {
    struct Row {
        const char* name;
        std::vector<FingerprintKey> keys;
    };
    std::vector<FingerprintKey> many, same_probe_start;
    for (std::int64_t i = 0; i < 200'000; ++i) many.push_back(digest(fingerprint_of(i)));  // the table grows
    // Same probe start in every shard: long linear probe runs and wraps.
    for (std::uint64_t hi = 1; hi <= 5000; ++hi) same_probe_start.push_back({7, hi * 0x9E3779B97F4A7C15ULL});
    const Row rows[] = {
        // The all-zero key also marks empty slots, so it needs its own handling.
        {"zero key and keys differing in one half", {{0, 0}, {1, 0}, {0, 1}, {1, 1}, {1, 2}, {2, 1}}},
        {"growth", many},
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

TEST_P(SeenSetBatch, EarliestOccurrenceInTheBatchIsNew) {
    SeenSet set;
    const FingerprintKey zero{}, a = digest(fingerprint_of(1)), b = digest(fingerprint_of(2)),
                         c = digest(fingerprint_of(3));
    ASSERT_TRUE(set.insert(c));
    const std::vector<FingerprintKey> keys = {b, a, zero, b, c, a, zero, b};
    std::vector<std::uint8_t> is_new(keys.size());
    set.insert_batch(keys, is_new);
    EXPECT_EQ(is_new, (std::vector<std::uint8_t>{1, 1, 1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(set.size(), 4u);
}

TEST_P(SeenSetBatch, LargeBatchesReportExactlyTheFirstOccurrences) {
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
            keys.push_back(digest(fingerprint_of(pick(generator))));
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
