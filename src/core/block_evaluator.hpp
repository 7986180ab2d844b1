// BlockEvaluator: evaluates one expression over many rows, one token at a
// time over a block of rows, so operator dispatch is paid once per block.
// It computes exactly what Expression::eval computes row by row, except that
// an absent value and a NaN value of a formula whose last token is a leaf
// both read as kAbsent (callers that need the difference evaluate leaves row
// by row).
//
// Every token's values are kept (the tape), per block of rows, so that the
// expression can be re-evaluated with one leaf changed by re-applying only
// the operators on that leaf's path to the root, and so that the values of
// a block evaluated earlier can be read back; constant fitting needs both.
// The tape holds tokens x rows values: for one expression of c tokens over
// N rows, 16 c N bytes.
//
// One object per worker thread: it owns the tape it reuses across calls, so
// evaluation allocates nothing once the tape has grown to the largest
// expression and data seen. Not thread-safe; the registry and data are only read.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/dataset.hpp"
#include "core/token.hpp"
#include "ops/registry.hpp"

namespace kiv {

// A sub-expression whose values on every data row are already known:
// tokens [first_token, last_token] of the expression form it, and values[r]
// is what evaluation gives for it on row r.
struct KnownValues {
    std::size_t first_token = 0;
    std::size_t last_token = 0;
    const Complex* values = nullptr;
};

class BlockEvaluator {
public:
    static constexpr std::size_t kBlockRows = 64;

    // Values of `tokens` on rows [first, first + count) of `data`, count <=
    // kBlockRows, written to out[0 .. count): kAbsent where undefined. Param j
    // takes params[j] when j < params.size(), else its stored value. Tokens
    // must form a well-formed expression (one value left); a malformed
    // expression or a block outside the data throws InvariantViolation.
    // Sub-expressions in `known` (ascending, disjoint, free of Param tokens)
    // are read from their values instead of being evaluated.
    void evaluate_block(std::span<const Token> tokens, const Dataset& data, std::size_t first, std::size_t count,
                        std::span<const Complex> params, const OperatorRegistry& registry, Complex* out,
                        std::span<const KnownValues> known = {});

    // The same over all rows; out.size() must equal data.rows (else InvariantViolation).
    void evaluate(std::span<const Token> tokens, const Dataset& data, std::span<const Complex> params,
                  const OperatorRegistry& registry, std::span<Complex> out);

    // The values that the last evaluate_block call of the expression wrote
    // for rows [first, first + count), read back from the tape.
    void recorded(std::size_t first, std::size_t count, Complex* out) const;

    // Values of the expression of the last evaluate_block call on rows
    // [first, first + count), with the leaf token at `position` taking
    // `value` on every row: exactly what evaluate_block would give with that
    // leaf changed. The tokens of that call must still be alive and unchanged.
    void evaluate_with_leaf(std::size_t first, std::size_t count, std::size_t position, Complex value,
                            const OperatorRegistry& registry, Complex* out);

    // Values of the expression of the last evaluate_block call on a block
    // that an earlier evaluate_block call of it filled, with other Param
    // values: exactly what evaluate_block would give with `params`, but only
    // the tokens that depend on a Param are evaluated again; the tape keeps
    // the rest. The tokens of that call must still be alive and unchanged.
    void reevaluate_params(std::size_t first, std::size_t count, std::span<const Complex> params,
                           const OperatorRegistry& registry, Complex* out);

private:
    static constexpr std::uint32_t kNoParent = ~std::uint32_t{0};

    std::size_t block_of(std::size_t first) const { return first / kBlockRows; }
    Complex* tape(std::size_t block, std::size_t token) {
        return tape_.data() + (block * tokens_.size() + token) * kBlockRows;
    }
    const Complex* tape(std::size_t block, std::size_t token) const {
        return tape_.data() + (block * tokens_.size() + token) * kBlockRows;
    }
    void fill_param(std::size_t token, std::size_t count, std::span<const Complex> params, Complex* values) const;
    // Applies the operator at `token` to its operand blocks into `result`,
    // marking unacceptable results absent.
    void apply(std::size_t token, const Complex* const* args, std::size_t count, const OperatorRegistry& registry,
               Complex* result);

    std::span<const Token> tokens_;
    bool all_absent_ = false;                             // it reads a column missing from some row
    std::vector<Complex> tape_;                           // block b, token t at (b * tokens + t) * kBlockRows
    std::vector<std::array<std::uint32_t, 2>> operands_;  // operand tokens of each operator token
    std::vector<std::uint32_t> parent_;                   // operator token that reads each token
    std::vector<std::uint32_t> pending_;                  // tokens whose values await an operator
    std::vector<char> on_params_;                         // whether each token depends on a Param
    std::array<Complex, kBlockRows> path_[2];             // values along a changed leaf's path
};

}  // namespace kiv
