// SearchConfig: every tunable of one search. A plain value, copied whole into
// each search and only read there. No field is validated here; the search
// driver refuses the values it cannot run with.
#pragma once

#include <cstdint>

namespace kiv {

struct SearchConfig {
    std::uint64_t max_complexity = 10;
    double complexity_penalty = 0.1;
    std::uint64_t beam_width = 1000;
    double alpha = 0.0;
    double l1_ratio = 0.5;
    // Fixed: not settable from Python.
    double early_exit_error = 1e-10;
    bool exhaustive = false;
    bool optimize_constants = true;

    SearchConfig() = default;
    SearchConfig(std::uint64_t max_complexity_, double complexity_penalty_, std::uint64_t beam_width_, double alpha_,
                 double l1_ratio_)
        : max_complexity(max_complexity_),
          complexity_penalty(complexity_penalty_),
          beam_width(beam_width_),
          alpha(alpha_),
          l1_ratio(l1_ratio_) {}
};

}  // namespace kiv
