// LatexLayout: what an operator's LaTeX template does to grouping, declared
// by the operator next to its template so that rendering needs no knowledge
// of particular operators.
//
// A template that inserts an operand bare can break that operand's grouping
// ("a + b" under "\1 \cdot \2"); the layout lists, per operand slot, the
// operand shapes that must then be wrapped in \left( ... \right), and the
// shape of the operator's own text for the operator above it. Plain
// constexpr values; thread-safe.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace kiv {

// How a LaTeX text groups at its top level.
enum class LatexShape : std::uint8_t {
    Atom,      // variable, constant, non-negative number
    Signed,    // number with a leading minus
    Sum,       // "a + b", "a - b", "e^{a} - \ln(b)"
    Product,   // "a \cdot b"
    Power,     // "e^{a}", "{a}^2"
    Applied,   // a function call or fraction: "\sin(a)", "\frac{a}{b}"
    Enclosed,  // wrapped whole in parentheses: "(-(a))", a grouped operand
};

// A set of shapes.
class LatexShapes {
public:
    constexpr LatexShapes() = default;
    constexpr LatexShapes(std::initializer_list<LatexShape> shapes) {
        for (const LatexShape shape : shapes) bits_ |= bit(shape);
    }
    constexpr bool contains(LatexShape shape) const { return (bits_ & bit(shape)) != 0; }

private:
    static constexpr std::uint8_t bit(LatexShape shape) {
        return static_cast<std::uint8_t>(1u << static_cast<unsigned>(shape));
    }
    std::uint8_t bits_ = 0;
};

struct LatexLayout {
    LatexShape result = LatexShape::Applied;
    // grouped[slot]: operand shapes the template would break at that slot.
    std::array<LatexShapes, 2> grouped{};

    // True when an operand of `shape` at `slot` must be wrapped.
    constexpr bool groups(std::size_t slot, LatexShape shape) const {
        return slot < grouped.size() && grouped[slot].contains(shape);
    }
};

}  // namespace kiv
