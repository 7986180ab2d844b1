// Ranking and beam retention: the cut of one level to the beam width. The
// best 80 % of the beam go to the best scores; the remaining places go first
// to candidates whose operator sequence no elite has.
//
// Runs on the search's calling thread; keeps nothing between levels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kiv {

// A scored candidate of a level: its position in the level's candidate list.
struct ScoredCandidate {
    std::size_t index = 0;
    double score = 0.0;
};

// floor(beam_width * 0.8), computed in double precision.
std::size_t elite_count(std::uint64_t beam_width);

// Sorts by ascending score; equal scores keep their order. A NaN score is an
// invariant violation.
void rank(std::vector<ScoredCandidate>& pairs);

// At most beam_width pairs of the ranked list, in retained order. key_of
// returns the operator-sequence key of a candidate index.
std::vector<ScoredCandidate> retain(std::vector<ScoredCandidate> ranked, std::uint64_t beam_width, std::size_t elites,
                                    const std::function<std::string(std::size_t)>& key_of);

}  // namespace kiv
