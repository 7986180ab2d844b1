#include "ops/operator.hpp"

#include <array>

#include "invariant.hpp"

namespace kiv {

void Operator::eval_block(const Complex* const* args, Complex* out, std::size_t rows) const {
    const unsigned n = arity();
    std::array<Complex, 2> point{};
    check_index(n == 0 ? 0 : n - 1, point.size(), "src/ops/operator");
    for (std::size_t r = 0; r < rows; ++r) {
        for (unsigned i = 0; i < n; ++i) point[i] = args[i][r];
        const auto value = eval(std::span<const Complex>(point.data(), n));
        out[r] = value ? *value : kAbsent;
    }
}

}  // namespace kiv
