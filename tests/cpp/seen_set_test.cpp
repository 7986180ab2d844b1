#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "engine/seen_set.hpp"
#include "thread_count.hpp"

namespace kiv {
namespace {

Fingerprint fingerprint_of(std::int64_t seed) {
    Fingerprint fingerprint{};
    for (std::size_t i = 0; i < fingerprint.size(); ++i) fingerprint[i] = seed * 31 + static_cast<std::int64_t>(i);
    return fingerprint;
}

// `count` keys drawn from `distinct` different fingerprints, so most repeat.
std::vector<FingerprintKey> keys_with_repeats(std::size_t count, std::int64_t distinct, unsigned seed) {
    std::mt19937_64 generator(seed);
    std::uniform_int_distribution<std::int64_t> pick(0, distinct - 1);
    std::vector<FingerprintKey> keys;
    for (std::size_t i = 0; i < count; ++i) keys.push_back(digest(fingerprint_of(pick(generator))));
    return keys;
}

// The expected batch outcome: new exactly at the first occurrence of a key
// that `already_seen` lacks.
std::vector<std::uint8_t> first_occurrences(const std::vector<FingerprintKey>& keys,
                                            std::set<std::pair<std::uint64_t, std::uint64_t>> already_seen) {
    std::vector<std::uint8_t> is_new;
    for (const FingerprintKey& key : keys) is_new.push_back(already_seen.insert({key.lo, key.hi}).second ? 1 : 0);
    return is_new;
}

TEST(Digest, EqualFingerprintsShareADigest) {
    EXPECT_EQ(digest(fingerprint_of(42)), digest(fingerprint_of(42)));
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
    std::set<std::pair<std::uint64_t, std::uint64_t>> seen;
    for (std::int64_t a = -50; a < 50; ++a)
        for (std::int64_t b = -50; b < 50; ++b) {
            Fingerprint fingerprint{};
            fingerprint[0] = a;
            fingerprint[9] = b;
            const FingerprintKey key = digest(fingerprint);
            EXPECT_TRUE(seen.insert({key.lo, key.hi}).second) << a << ", " << b;
        }
}

TEST(SeenSet, InsertReportsNewOnlyTheFirstTime) {
    SeenSet set;
    const FingerprintKey a = digest(fingerprint_of(1));
    const FingerprintKey b = digest(fingerprint_of(2));
    EXPECT_TRUE(set.insert(a));
    EXPECT_FALSE(set.insert(a));
    EXPECT_TRUE(set.insert(b));
    EXPECT_FALSE(set.insert(b));
    EXPECT_EQ(set.size(), 2u);
}

TEST(SeenSet, ZeroKeyIsAnOrdinaryMember) {
    // The all-zero key also marks empty slots, so it needs its own handling.
    SeenSet set;
    const FingerprintKey zero{};
    EXPECT_TRUE(set.insert(zero));
    EXPECT_FALSE(set.insert(zero));
    EXPECT_TRUE(set.insert(digest(fingerprint_of(1))));
    EXPECT_EQ(set.size(), 2u);

    SeenSet batch_set;
    const std::vector<FingerprintKey> keys = {zero, digest(fingerprint_of(3)), zero};
    std::vector<std::uint8_t> is_new(keys.size());
    batch_set.insert_batch(keys, is_new);
    EXPECT_EQ(is_new, (std::vector<std::uint8_t>{1, 1, 0}));
    EXPECT_EQ(batch_set.size(), 2u);
}

TEST(SeenSet, KeysDifferingInOneHalfAreDistinct) {
    SeenSet set;
    const FingerprintKey keys[] = {{1, 0}, {0, 1}, {1, 1}, {1, 2}, {2, 1}};
    for (const FingerprintKey& key : keys) EXPECT_TRUE(set.insert(key));
    for (const FingerprintKey& key : keys) EXPECT_FALSE(set.insert(key));
    EXPECT_EQ(set.size(), std::size(keys));
}

TEST(SeenSet, GrowthKeepsEveryKey) {
    SeenSet set;
    constexpr std::int64_t kCount = 200'000;
    for (std::int64_t i = 0; i < kCount; ++i) ASSERT_TRUE(set.insert(digest(fingerprint_of(i)))) << i;
    EXPECT_EQ(set.size(), static_cast<std::size_t>(kCount));
    for (std::int64_t i = 0; i < kCount; ++i) ASSERT_FALSE(set.insert(digest(fingerprint_of(i)))) << i;
    EXPECT_EQ(set.size(), static_cast<std::size_t>(kCount));
}

TEST(SeenSet, KeysWithTheSameProbeStartAreAllKept) {
    // Same probe start in every shard: forces long linear probe runs and wraps.
    SeenSet set;
    for (std::uint64_t hi = 1; hi <= 5000; ++hi) ASSERT_TRUE(set.insert({7, hi * 0x9E3779B97F4A7C15ULL}));
    for (std::uint64_t hi = 1; hi <= 5000; ++hi) ASSERT_FALSE(set.insert({7, hi * 0x9E3779B97F4A7C15ULL}));
    EXPECT_EQ(set.size(), 5000u);
}

class SeenSetBatch : public ThreadCountTest {};

TEST_P(SeenSetBatch, EarliestOccurrenceInTheBatchIsNew) {
    SeenSet set;
    const FingerprintKey a = digest(fingerprint_of(1));
    const FingerprintKey b = digest(fingerprint_of(2));
    const FingerprintKey c = digest(fingerprint_of(3));
    ASSERT_TRUE(set.insert(c));
    const std::vector<FingerprintKey> keys = {b, a, b, c, a, b};
    std::vector<std::uint8_t> is_new(keys.size());
    set.insert_batch(keys, is_new);
    EXPECT_EQ(is_new, (std::vector<std::uint8_t>{1, 1, 0, 0, 0, 0}));
    EXPECT_EQ(set.size(), 3u);
}

TEST_P(SeenSetBatch, LargeBatchesReportExactlyTheFirstOccurrences) {
    SeenSet set;
    std::set<std::pair<std::uint64_t, std::uint64_t>> model;
    std::vector<std::uint8_t> is_new;
    // Repeated batches of varying size reuse the set's grouping buffers.
    for (const std::size_t count : {50'000u, 10u, 0u, 80'000u}) {
        SCOPED_TRACE(count);
        const auto keys = keys_with_repeats(count, 60'000, static_cast<unsigned>(count));
        const auto expected = first_occurrences(keys, model);
        for (const FingerprintKey& key : keys) model.insert({key.lo, key.hi});
        is_new.assign(keys.size(), 2);
        set.insert_batch(keys, is_new);
        EXPECT_EQ(is_new, expected);
        EXPECT_EQ(set.size(), model.size());
    }
}

INSTANTIATE_THREAD_COUNTS(SeenSetBatch);

TEST(SeenSetWorkers, OneAndTwoWorkersGiveEqualResults) {
    const auto keys = keys_with_repeats(100'000, 30'000, 3);
    std::vector<std::uint8_t> results[2];
    for (std::size_t threads = 1; threads <= 2; ++threads) {
        ScopedThreadCount pinned(threads);
        SeenSet set;
        results[threads - 1].resize(keys.size());
        set.insert_batch(keys, results[threads - 1]);
    }
    EXPECT_EQ(results[0], results[1]);
}

}  // namespace
}  // namespace kiv
