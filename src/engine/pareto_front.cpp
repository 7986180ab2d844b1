#include "engine/pareto_front.hpp"

#include <algorithm>
#include <cmath>

namespace kiv {

namespace {

// Strict comparison: NaN never improves on anything, nor fills an empty slot.
bool improves(const std::map<std::size_t, ParetoFront::Entry>& entries, std::size_t complexity, double error) {
    if (std::isnan(error)) return false;
    const auto it = entries.find(complexity);
    return it == entries.end() || error < it->second.error;
}

}  // namespace

bool ParetoFront::would_accept(std::size_t complexity, double error) const {
    const std::lock_guard lock(mutex_);
    return improves(entries_, complexity, error);
}

void ParetoFront::update(double error, const Expression& expression) {
    const std::lock_guard lock(mutex_);
    if (improves(entries_, expression.complexity, error))
        entries_.insert_or_assign(expression.complexity, Entry{error, expression});
}

bool ParetoFront::check_early_exit(double threshold, bool exhaustive) const {
    if (exhaustive) return false;
    const std::lock_guard lock(mutex_);
    // Not greater rather than at most: an unordered error would qualify too.
    return std::any_of(entries_.begin(), entries_.end(),
                       [threshold](const auto& entry) { return !(entry.second.error > threshold); });
}

std::map<std::size_t, ParetoFront::Entry> ParetoFront::entries() const {
    const std::lock_guard lock(mutex_);
    return entries_;
}

}  // namespace kiv
