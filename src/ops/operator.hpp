// Operator: the interface every formula operator implements.
//
// Operators are immutable after construction and are called concurrently
// from all worker threads without locking. `eval` is the reference rule for
// one point; `eval_block` applies the same rule to many rows at once so that
// the batched evaluator pays one virtual call per token per block, not per row.
// Next to its LaTeX template an operator declares the template's layout,
// which is all that rendering knows of it.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "ops/complex.hpp"
#include "ops/latex_layout.hpp"

namespace kiv {

// Marks a row whose operator result is absent in block evaluation. A NaN
// never passes the evaluator's finiteness test, so absent and "computed but
// rejected" are treated alike, which is exactly what evaluation requires.
inline constexpr Complex kAbsent{__builtin_nan(""), __builtin_nan("")};

// Operator results must stay strictly inside this magnitude to be accepted.
inline constexpr double kMagnitudeBound = 1e15;

// True when a computed value may enter further evaluation: both parts
// finite and inside the bound. A NaN or infinite part fails the comparison,
// so the bound alone decides; `&` keeps the test free of branches.
inline bool is_acceptable(Complex v) {
    return (std::fabs(v.re) < kMagnitudeBound) & (std::fabs(v.im) < kMagnitudeBound);
}

class Operator {
public:
    virtual ~Operator() = default;

    virtual std::string_view name() const = 0;
    virtual unsigned arity() const = 0;
    virtual bool is_commutative() const { return false; }

    // Result at `args` (at least arity() values), or nothing where undefined.
    virtual std::optional<Complex> eval(std::span<const Complex> args) const = 0;

    // out[r] = eval(args[0][r], args[1][r]) for r < rows, kAbsent where
    // undefined or not acceptable: the screening that evaluation needs is
    // done in the operator's own loop, while the value is still in
    // registers. `out` may alias args[0].
    virtual void eval_block(const Complex* const* args, Complex* out, std::size_t rows) const = 0;

    virtual std::string to_latex(std::span<const std::string> args) const = 0;
    // The grouping that to_latex's template needs around its operands.
    virtual LatexLayout latex_layout() const = 0;
    virtual std::string to_python(std::span<const std::string> args) const = 0;

    // Diagnostic description; not used in formulas.
    virtual std::string debug_text() const = 0;
};

}  // namespace kiv
