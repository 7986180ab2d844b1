// The builtin operators: eighteen stateless types and ConstOp, the named
// constant. Their evaluation rules live in builtin.cpp; this header exposes
// what the registry needs to build its operator set.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ops/operator.hpp"

namespace kiv {

// A named constant ("Pi", "E", ...): arity 0, ignores its arguments.
class ConstOp final : public Operator {
public:
    ConstOp(std::string name, std::string latex, std::string python, Complex value);

    std::string_view name() const override { return name_; }
    unsigned arity() const override { return 0; }
    std::optional<Complex> eval(std::span<const Complex>) const override { return value_; }
    void eval_block(const Complex* const* args, Complex* out, std::size_t rows) const override;
    std::string to_latex(std::span<const std::string>) const override { return latex_; }
    LatexLayout latex_layout() const override { return LatexLayout{LatexShape::Atom}; }
    std::string to_python(std::span<const std::string>) const override { return python_; }
    std::string debug_text() const override;

private:
    std::string name_;
    std::string latex_;
    std::string python_;
    Complex value_;
};

// One object of each stateless builtin type, in registry order:
// Kiv, Neg, Inv, Plus, Times, Subtract, Divide, Exp, Log, Sqrt, Sin, Cos,
// Tan, ArcSin, ArcCos, ArcTan, Square, Cube.
std::vector<std::unique_ptr<Operator>> all_builtins();

// The five named constants in registry order: "0", "1", "I", "Pi", "E".
std::vector<std::unique_ptr<Operator>> builtin_constants();

}  // namespace kiv
