// The semantic fingerprint: what an expression computes, reduced to ten
// integers. Two expressions with equal fingerprints are treated as the same
// function by the search.
//
// An expression is evaluated at five synthetic points that do not depend on
// the user's data, and each complex value is quantised to a grid of 1e-10.
// All functions here are pure and thread-safe.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "core/expression.hpp"

namespace kiv {

inline constexpr std::size_t kSampleCount = 5;

// (re, im) pairs of the five samples, flattened: re0, im0, re1, im1, ...
using Fingerprint = std::array<std::int64_t, 2 * kSampleCount>;

// An expression's values at the five sample points; kAbsent where undefined.
using SampleValues = std::array<Complex, kSampleCount>;

// Value of input column `column` at sample point `sample`.
Complex sample_input(std::size_t sample, std::size_t column);

// The fingerprint of `expression`, or nothing if it is undefined, non-finite
// or out of range at any sample point.
std::optional<Fingerprint> fingerprint(const Expression& expression, const OperatorRegistry& registry);

// The expression's values at the sample points (each by Expression::eval).
SampleValues sample_values(const Expression& expression, const OperatorRegistry& registry);

// Quantises sample values; nothing if any value is absent or not acceptable.
std::optional<Fingerprint> quantize(const SampleValues& values);

}  // namespace kiv
