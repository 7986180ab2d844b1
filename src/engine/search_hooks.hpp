// SearchHooks: what a caller attaches to one search besides its data and
// SearchConfig. Every hook is optional; a default-made value runs a plain
// search with every operator that reports to standard output.
#pragma once

#include <cstddef>
#include <vector>

#include "engine/cancel.hpp"
#include "engine/data_warnings.hpp"
#include "engine/operator_set.hpp"
#include "engine/progress_output.hpp"

namespace kiv {

// What one level did, for benchmarks and diagnostics.
struct LevelStats {
    std::size_t level = 0;
    std::size_t generated = 0;  // candidates built, duplicates included
    std::size_t kept = 0;       // new after deduplication; each is evaluated
    std::size_t scored = 0;     // evaluated with a finite error
    std::size_t retained = 0;   // kept in the level's bucket
    double seconds = 0.0;
};

struct SearchHooks {
    // Polled on the calling thread; once it returns true the search stops.
    CancelCheck cancel = {};
    // Gets the warnings about accepted data before the search starts.
    WarningSink warn = {};
    // Where the banner, progress and level lines go; standard output when null.
    ProgressOutput* progress = nullptr;
    // Gets one entry per level from 2 on.
    std::vector<LevelStats>* stats = nullptr;
    // The operators candidates are built with.
    OperatorSet operators = {};

    ProgressOutput& progress_output() const { return progress ? *progress : standard_output(); }
};

}  // namespace kiv
