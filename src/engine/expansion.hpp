// Expander: generates the new candidates of one level, deduplicated by
// fingerprint, in generation order: the set's one-argument operators over the
// previous level (parent order, then operator order), then for i = 1 .. c-2
// the set's two-argument operators over bucket i x bucket c-1-i (left
// operand, right operand, operator).
//
// A candidate's fingerprint comes from its operands' cached sample values,
// one operator evaluation per sample point; a duplicate is dropped without
// ever becoming an expression. Work is done in chunks of parents: the chunk's
// fingerprints are computed in parallel, then inserted into the seen-set in
// generation order, so the first of equivalent candidates survives whatever
// the thread timing. Used by the search's calling thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/beam.hpp"
#include "engine/cancel.hpp"
#include "engine/operator_set.hpp"
#include "engine/parallel.hpp"
#include "engine/seen_set.hpp"

namespace kiv {

class Expander {
public:
    Expander(const OperatorRegistry& registry, const OperatorSet& operators, SeenSet& seen, WorkerPool workers);

    // New candidates of level `level`, reading buckets 1 .. level-1 of `beam`.
    std::vector<Recipe> expand(std::size_t level, const Beam& beam, const CancelCheck& cancel);

    // Candidates built by the last expand(), duplicates and undefined ones included.
    std::size_t generated() const { return generated_; }

private:
    struct Child {
        Recipe recipe;
        FingerprintKey key;
    };
    // Children of one parent: how many were built, how many have a fingerprint.
    struct Yield {
        std::size_t built = 0;
        std::size_t defined = 0;
    };

    // Runs generate(parent, slots) -> Yield for each parent in chunks and
    // appends the children that are new to the seen-set to `out`.
    template <class Generate>
    void run_pass(std::size_t parents, std::size_t per_parent, Generate&& generate, std::vector<Recipe>& out,
                  const CancelCheck& cancel);

    Yield unary_children(const Beam& beam, std::size_t level, std::uint32_t parent, Child* slots) const;
    Yield binary_children(const Beam& beam, std::size_t left_level, std::size_t right_level, std::uint32_t parent,
                          Child* slots) const;

    const OperatorRegistry& registry_;
    SeenSet& seen_;
    WorkerPool workers_;
    std::vector<std::size_t> unary_ids_;
    std::vector<std::size_t> binary_ids_;
    // Chunk buffers, reused across chunks and levels.
    std::vector<Child> slots_;
    std::vector<Yield> yields_;
    std::size_t generated_ = 0;
    std::vector<FingerprintKey> keys_;
    std::vector<Recipe> recipes_;
    std::vector<std::uint8_t> is_new_;
};

}  // namespace kiv
