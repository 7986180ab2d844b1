// BlockEvaluator: evaluates a prepared expression over many rows, one token
// at a time over a block of rows, so operator dispatch is paid once per
// block. It computes exactly what Expression::eval computes row by row,
// except that an absent value and a NaN value of a formula whose last token
// is a leaf both read as kAbsent; such a formula is absent exactly when its
// PreparedExpression is absent everywhere, which tells the two apart.
//
// Every token's values are kept (the tape), per block of rows, so that the
// expression can be re-evaluated with one leaf changed by re-applying only
// the operators on that leaf's path to the root, and so that the values of
// a block evaluated earlier can be read back; constant refinement needs both.
// The calls that read the tape name the expression whose evaluate_block
// call last filled the block, and that expression must not have been
// prepared again since. The tape holds tokens x rows values: for one
// expression of c tokens over N rows, 16 c N bytes.
//
// One object per worker thread: it owns the tape it reuses across calls, so
// evaluation allocates nothing once the tape has grown to the largest
// expression and data seen. Not thread-safe; the expression is only read.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include "core/prepared_expression.hpp"

namespace kiv {

class BlockEvaluator {
public:
    static constexpr std::size_t kBlockRows = 64;

    // Values of `expression` on rows [first, first + count) of its data,
    // count <= kBlockRows, written to out[0 .. count): kAbsent where
    // undefined. Param j takes params[j] when j < params.size(), else its
    // stored value. A block outside the data throws InvariantViolation.
    void evaluate_block(const PreparedExpression& expression, std::size_t first, std::size_t count,
                        std::span<const Complex> params, Complex* out);

    // The same over all rows; out.size() must equal the data's row count (else InvariantViolation).
    void evaluate(const PreparedExpression& expression, std::span<const Complex> params, std::span<Complex> out);

    // The values of `expression` for rows [first, first + count) that the
    // tape holds: the last evaluate_block or reevaluate_params call's.
    void recorded(const PreparedExpression& expression, std::size_t first, std::size_t count, Complex* out) const;

    // Values of `expression` on rows [first, first + count), with the leaf
    // token at `position` taking `value` on every row: exactly what
    // evaluate_block would give with that leaf changed. Only the operators
    // on the leaf's path are applied; the tape keeps the rest.
    void evaluate_with_leaf(const PreparedExpression& expression, std::size_t first, std::size_t count,
                            std::size_t position, Complex value, Complex* out);

    // Values of `expression` on rows [first, first + count) with other Param
    // values: exactly what evaluate_block would give with `params`, but only
    // the tokens that depend on a Param are evaluated again, into the tape.
    void reevaluate_params(const PreparedExpression& expression, std::size_t first, std::size_t count,
                           std::span<const Complex> params, Complex* out);

private:
    // Where the block of `first` starts in the tape, token t's values
    // t * kBlockRows further; InvariantViolation when the tape is too short
    // to have held that block of the expression.
    std::size_t block_start(const PreparedExpression& expression, std::size_t first) const;

    std::vector<Complex> tape_;                // block b, token t at (b * tokens + t) * kBlockRows
    std::array<Complex, kBlockRows> path_[2];  // values along a changed leaf's path
};

}  // namespace kiv
