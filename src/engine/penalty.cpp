#include "engine/penalty.hpp"

#include <cmath>

namespace kiv {

double Penalty::of(double l1, double l2) const { return alpha * (l1_ratio * l1 + ((1.0 - l1_ratio) * 0.5) * l2); }

double Penalty::on_constants(std::span<const Token> tokens, std::span<const double> params) const {
    double l1 = 0.0;
    double l2 = 0.0;
    for (const Token& token : tokens) {
        if (token.kind != TokenKind::Real && token.kind != TokenKind::Param) continue;
        const bool given = token.kind == TokenKind::Param && token.index < params.size();
        const double v = given ? params[token.index] : token.value.re;
        l1 += std::fabs(v);
        l2 += v * v;
    }
    return of(l1, l2);
}

}  // namespace kiv
