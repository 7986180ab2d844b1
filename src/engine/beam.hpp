// The retained expressions of the search, level by level, and the compact
// form in which a level's candidates travel until they are retained.
//
// Level k's bucket holds the expressions of exactly k tokens that survived
// the cut, each with its values at the fingerprint sample points (so a new
// candidate's fingerprint costs one operator evaluation per sample point)
// and its operator-sequence key. Buckets are read-only while a level is built.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/block_evaluator.hpp"
#include "core/dataset.hpp"
#include "core/expression.hpp"
#include "core/signature.hpp"

namespace kiv {

struct BeamEntry {
    Expression expression;
    SampleValues samples;
    // All sample values acceptable; otherwise no candidate built on it has a fingerprint.
    bool samples_defined = false;
    std::string op_key;
    // Values on every data row, kept for expressions without Param tokens
    // (whose values never change) that read only complete columns; else empty.
    std::vector<Complex> values;

    // Computes the cached values of a retained expression.
    static BeamEntry make(Expression expression, const OperatorRegistry& registry, const Dataset& data);
};

// A candidate of level c: operator op_id applied to entry `left` of bucket
// left_level and, for a two-argument operator, entry `right` of bucket
// c - 1 - left_level. A candidate costs these 16 bytes until it is needed
// as an expression.
struct Recipe {
    std::uint32_t op_id = 0;
    std::uint32_t left_level = 0;
    std::uint32_t left = 0;
    std::uint32_t right = 0;
};

class Beam {
public:
    // Bucket k; buckets come into being as levels are reached.
    const std::vector<BeamEntry>& bucket(std::size_t level) const;
    void add_level(std::vector<BeamEntry> entries) { buckets_.push_back(std::move(entries)); }

    // Operands of a candidate of level `level`; second is null for one-argument operators.
    const BeamEntry& left(const Recipe& recipe) const;
    const BeamEntry* right(const Recipe& recipe, std::size_t level) const;

    // Postfix tokens of the candidate written into `out` (reused; no allocation
    // once it has grown), the right operand's Param indices shifted.
    void write_tokens(const Recipe& recipe, std::size_t level, std::vector<Token>& out) const;

    // The candidate as an expression with its formula; with `params`, its
    // Param k set to (params[k], 0).
    Expression materialize(const Recipe& recipe, std::size_t level, const OperatorRegistry& registry,
                           std::span<const double> params) const;

    // The candidate's operator-sequence key, from its operands' keys.
    std::string op_key(const Recipe& recipe, std::size_t level) const;

    // The operands of the candidate's tokens (as write_tokens writes them)
    // whose values are cached, written into `out` (reused).
    void known_operands(const Recipe& recipe, std::size_t level, std::vector<KnownValues>& out) const;

private:
    std::vector<std::vector<BeamEntry>> buckets_;  // buckets_[0] is level 0, always empty
};

}  // namespace kiv
