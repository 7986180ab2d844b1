// BlockEvaluator: evaluates one expression over many rows, one token at a
// time over a block of rows, so operator dispatch is paid once per block.
// It computes exactly what Expression::eval computes row by row, except that
// an absent value and a NaN value of a formula whose last token is a leaf
// both read as kAbsent (callers that need the difference evaluate leaves row
// by row).
//
// One object per worker thread: it owns the stack it reuses across calls, so
// evaluation allocates nothing once the stack has grown to the largest
// expression seen. Not thread-safe; the registry and data are only read.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "core/dataset.hpp"
#include "core/token.hpp"
#include "ops/registry.hpp"

namespace kiv {

class BlockEvaluator {
public:
    static constexpr std::size_t kBlockRows = 64;

    // Values of `tokens` on rows [first, first + count) of `data`, count <=
    // kBlockRows, written to out[0 .. count): kAbsent where undefined. Param j
    // takes params[j] when j < params.size(), else its stored value. Tokens
    // must form a well-formed expression (one value left); a malformed
    // expression or a block outside the data throws InvariantViolation.
    void evaluate_block(std::span<const Token> tokens, const Dataset& data, std::size_t first,
                        std::size_t count, std::span<const Complex> params, const OperatorRegistry& registry,
                        Complex* out);

    // The same over all rows; out.size() must equal data.rows (else InvariantViolation).
    void evaluate(std::span<const Token> tokens, const Dataset& data, std::span<const Complex> params,
                  const OperatorRegistry& registry, std::span<Complex> out);

private:
    std::vector<Complex> stack_;
};

}  // namespace kiv
