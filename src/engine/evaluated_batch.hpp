// EvaluatedBatch: evaluated candidates of one level in the form in which
// they travel between copies of a search: for each, its index in the level's
// candidate list, its error and the constants its refinement found (none
// when its operands' constants did best).
//
// to_bytes / from_bytes use the machine's own byte order and double format;
// every process of a search runs on the same kind of machine. from_bytes
// refuses a malformed text with InvariantViolation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

struct EvaluatedBatch {
    std::vector<std::uint32_t> indices;
    std::vector<double> errors;
    std::vector<std::uint8_t> refined_counts;  // constants of entry k, 0 when not refined
    std::vector<double> refined;               // entry k's constants follow those of entries before it

    void append(std::size_t index, double error, std::span<const double> constants);
    std::size_t size() const { return indices.size(); }

    std::string to_bytes() const;
    static EvaluatedBatch from_bytes(std::string_view bytes);
};

}  // namespace kiv
