// InvariantViolation: the one exception type for broken internal contracts
// (an index outside a table, an impossible state). Numeric failures are never
// reported this way; they are absent values. The Python layer turns this
// exception into an internal error that ordinary `except Exception` blocks
// do not swallow.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

namespace kiv {

class InvariantViolation : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

// Throws InvariantViolation naming `where` unless index < size.
inline void check_index(std::size_t index, std::size_t size, const char* where) {
    if (index >= size)
        throw InvariantViolation(std::string("index ") + std::to_string(index) + " out of range (size " +
                                 std::to_string(size) + ") in " + where);
}

}  // namespace kiv
