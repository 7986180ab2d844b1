// ParetoFront: the lowest error seen for each complexity, with the expression
// that reached it. Entries are added or replaced, never removed; only a
// strictly lower error replaces an entry, and a NaN error is never stored.
//
// Every operation locks the front's mutex. The search touches the front only
// from its calling thread, so the lock is never contended.
#pragma once

#include <cstddef>
#include <map>
#include <mutex>

#include "core/expression.hpp"

namespace kiv {

class ParetoFront {
public:
    struct Entry {
        double error;
        Expression expression;
    };

    // True when update(error, an expression of this complexity) would store.
    bool would_accept(std::size_t complexity, double error) const;

    // Stores (error, copy of expression) when it would accept it.
    void update(double error, const Expression& expression);

    // True at the first entry (ascending complexity) whose error is not
    // greater than threshold (NaN counts); never when exhaustive.
    bool check_early_exit(double threshold, bool exhaustive) const;

    // Copy of the entries in ascending complexity.
    std::map<std::size_t, Entry> entries() const;

private:
    mutable std::mutex mutex_;
    std::map<std::size_t, Entry> entries_;
};

}  // namespace kiv
