#include "engine/retention.hpp"

#include <algorithm>
#include <cmath>
#include <span>
#include <unordered_map>

#include "invariant.hpp"

namespace kiv {
namespace {

// A non-elite candidate with how many elites share its operator sequence.
struct Contender {
    std::size_t elites_sharing_key;
    ScoredCandidate candidate;
};

std::unordered_map<std::string, std::size_t> elite_key_counts(std::span<const ScoredCandidate> elites,
                                                              const std::function<std::string(std::size_t)>& key_of) {
    std::unordered_map<std::string, std::size_t> counts;
    for (const ScoredCandidate& elite : elites) ++counts[key_of(elite.index)];
    return counts;
}

}  // namespace

std::size_t elite_count(std::uint64_t beam_width) {
    return static_cast<std::size_t>(static_cast<double>(beam_width) * 0.8);
}

void rank(std::vector<ScoredCandidate>& pairs) {
    if (std::any_of(pairs.begin(), pairs.end(), [](const ScoredCandidate& pair) { return std::isnan(pair.score); }))
        throw InvariantViolation("NaN score in the ranking of a level");
    std::stable_sort(pairs.begin(), pairs.end(),
                     [](const ScoredCandidate& a, const ScoredCandidate& b) { return a.score < b.score; });
}

std::vector<ScoredCandidate> retain(std::vector<ScoredCandidate> ranked, std::uint64_t beam_width, std::size_t elites,
                                    const std::function<std::string(std::size_t)>& key_of) {
    if (ranked.size() <= beam_width) return ranked;
    if (elites > beam_width) throw InvariantViolation("elite count exceeds the beam width");

    // ranked.size() > beam_width >= elites, so both counts below fit the list.
    const std::size_t open_places = static_cast<std::size_t>(beam_width - elites);
    const auto counts = elite_key_counts(std::span(ranked).first(elites), key_of);
    std::vector<Contender> contenders;
    contenders.reserve(ranked.size() - elites);
    for (std::size_t i = elites; i < ranked.size(); ++i) {
        const auto found = counts.find(key_of(ranked[i].index));
        contenders.push_back({found == counts.end() ? 0 : found->second, ranked[i]});
    }
    std::stable_sort(contenders.begin(), contenders.end(), [](const Contender& a, const Contender& b) {
        if (a.elites_sharing_key != b.elites_sharing_key) return a.elites_sharing_key < b.elites_sharing_key;
        return a.candidate.score < b.candidate.score;
    });

    ranked.resize(elites);
    for (std::size_t i = 0; i < open_places; ++i) ranked.push_back(contenders[i].candidate);
    return ranked;
}

}  // namespace kiv
