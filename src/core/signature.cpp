#include "core/signature.hpp"

#include <cmath>
#include <limits>
#include <vector>

namespace kiv {
namespace {

// Euler-Mascheroni, Glaisher-Kinkelin, golden ratio, ln 2, Apery's constant.
constexpr std::array<double, kSampleCount> kSampleTable = {0.5772156649015329, 1.2824271291006226, 1.618033988749895,
                                                           0.6931471805599453, 1.202056903159594};
constexpr double kImaginaryStep = 0.1;
constexpr double kQuantum = 1e10;

// Rounds half away from zero and clamps to the signed 64-bit range.
std::int64_t quantize_part(double v) {
    const double r = std::round(v * kQuantum);
    constexpr double two_to_63 = 9223372036854775808.0;
    if (r >= two_to_63) return std::numeric_limits<std::int64_t>::max();
    if (r <= -two_to_63) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(r);
}

}  // namespace

Complex sample_input(std::size_t sample, std::size_t column) {
    const double re = kSampleTable[(sample + column) % kSampleCount];
    const double im = sample % 2 == 0 ? 0.0 : static_cast<double>(column + 1) * kImaginaryStep;
    return {re, im};
}

SampleValues sample_values(const Expression& expression, const OperatorRegistry& registry) {
    SampleValues values;
    std::vector<Complex> row(expression.n_vars);
    std::vector<Complex> stack;
    stack.reserve(expression.complexity);
    for (std::size_t s = 0; s < kSampleCount; ++s) {
        for (std::size_t j = 0; j < row.size(); ++j) row[j] = sample_input(s, j);
        stack.clear();
        const auto value = eval_internal(expression.tokens, row, {}, registry, stack);
        values[s] = value ? *value : kAbsent;
    }
    return values;
}

std::optional<Fingerprint> quantize(const SampleValues& values) {
    Fingerprint fp;
    for (std::size_t s = 0; s < kSampleCount; ++s) {
        if (!is_acceptable(values[s])) return std::nullopt;
        fp[2 * s] = quantize_part(values[s].re);
        fp[2 * s + 1] = quantize_part(values[s].im);
    }
    return fp;
}

std::optional<Fingerprint> fingerprint(const Expression& expression, const OperatorRegistry& registry) {
    return quantize(sample_values(expression, registry));
}

}  // namespace kiv
