// Penalty: the elastic-net weights of the term the error adds, on top of the
// mean squared error, for an expression's numeric constants. A plain value;
// the search refuses a negative or non-finite alpha and an l1_ratio outside
// [0, 1] before any error is computed.
#pragma once

#include <span>

#include "core/token.hpp"

namespace kiv {

struct Penalty {
    double alpha;
    double l1_ratio;

    // alpha * (l1_ratio * l1 + ((1 - l1_ratio) * 0.5) * l2), in exactly this order.
    double of(double l1, double l2) const;

    // The penalty of the constants that `tokens` are evaluated with, summed
    // in token order: each Real value and each Param's real part, params[k]
    // for Param k when k < params.size(), else its stored value. Const
    // tokens name fixed constants and are never penalized.
    double on_constants(std::span<const Token> tokens, std::span<const double> params) const;
};

}  // namespace kiv
