#include "engine/operand_preimages.hpp"

#include <cmath>
#include <limits>
#include <numbers>

namespace kiv {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kHalfPi = kPi / 2;

// `value` where the condition holds, else no solution.
double where(bool condition, double value) { return condition ? value : std::numeric_limits<double>::quiet_NaN(); }

// Re(exp(a)).
double exp_re(Complex a) { return std::exp(a.re) * std::cos(a.im); }

template <class Key>
struct Rule {
    std::string_view name;
    std::span<const Key> keys;
};

constexpr UnaryPreimage kNeg[] = {[](double t) { return -t; }};
constexpr UnaryPreimage kInv[] = {[](double t) { return 1.0 / t; }};
constexpr UnaryPreimage kExp[] = {[](double t) { return std::log(t); }};
// ln(-x) = ln(x) + i pi has the real part of ln(x).
constexpr UnaryPreimage kLog[] = {[](double t) { return std::exp(t); }, [](double t) { return -std::exp(t); }};
constexpr UnaryPreimage kSqrt[] = {[](double t) { return where(t >= 0.0, t * t); }};
constexpr UnaryPreimage kSin[] = {[](double t) { return std::asin(t); }, [](double t) { return kPi - std::asin(t); }};
constexpr UnaryPreimage kCos[] = {[](double t) { return std::acos(t); }, [](double t) { return -std::acos(t); }};
constexpr UnaryPreimage kTan[] = {[](double t) { return std::atan(t); }};
constexpr UnaryPreimage kArcSin[] = {[](double t) { return where(std::fabs(t) <= kHalfPi, std::sin(t)); }};
constexpr UnaryPreimage kArcCos[] = {[](double t) { return where(t >= 0.0 && t <= kPi, std::cos(t)); }};
constexpr UnaryPreimage kArcTan[] = {[](double t) { return where(std::fabs(t) < kHalfPi, std::tan(t)); }};
constexpr UnaryPreimage kSquare[] = {[](double t) { return std::sqrt(t); }, [](double t) { return -std::sqrt(t); }};
constexpr UnaryPreimage kCube[] = {[](double t) { return std::cbrt(t); }};

constexpr Rule<UnaryPreimage> kUnary[] = {
    {"Neg", kNeg},       {"Inv", kInv},       {"Exp", kExp},   {"Log", kLog},       {"Sqrt", kSqrt},
    {"Sin", kSin},       {"Cos", kCos},       {"Tan", kTan},   {"ArcSin", kArcSin}, {"ArcCos", kArcCos},
    {"ArcTan", kArcTan}, {"Square", kSquare}, {"Cube", kCube},
};

// The right operand b of a(known) op b.
constexpr BinaryPreimage kPlusRight[] = {[](double t, Complex a) { return t - a.re; }};
constexpr BinaryPreimage kTimesRight[] = {[](double t, Complex a) { return t / a.re; }};
constexpr BinaryPreimage kSubtractRight[] = {[](double t, Complex a) { return a.re - t; }};
// 0 / b is 0 (or undefined) whatever b is.
constexpr BinaryPreimage kDivideRight[] = {[](double t, Complex a) { return where(a.re != 0.0, a.re / t); }};
constexpr BinaryPreimage kKivRight[] = {[](double t, Complex a) { return std::exp(exp_re(a) - t); },
                                        [](double t, Complex a) { return -std::exp(exp_re(a) - t); }};

// The left operand a of a op b(known). Plus and Times have none: they
// commute, so the search always knows their left operand.
constexpr BinaryPreimage kSubtractLeft[] = {[](double t, Complex b) { return t + b.re; }};
// Re(a / b) = a Re(1 / b) for a real a.
constexpr BinaryPreimage kDivideLeft[] = {[](double t, Complex b) { return t * (b.re * b.re + b.im * b.im) / b.re; }};
constexpr BinaryPreimage kKivLeft[] = {
    [](double t, Complex b) { return std::log(t + std::log(std::hypot(b.re, b.im))); }};

constexpr Rule<BinaryPreimage> kRight[] = {
    {"Plus", kPlusRight},     {"Times", kTimesRight}, {"Subtract", kSubtractRight},
    {"Divide", kDivideRight}, {"KIV", kKivRight},
};
constexpr Rule<BinaryPreimage> kLeft[] = {{"Subtract", kSubtractLeft}, {"Divide", kDivideLeft}, {"KIV", kKivLeft}};

template <class Key>
std::span<const Key> keys_of(std::span<const Rule<Key>> rules, std::string_view name) {
    for (const Rule<Key>& rule : rules)
        if (rule.name == name) return rule.keys;
    return {};
}

}  // namespace

std::span<const UnaryPreimage> unary_preimages(std::string_view name) { return keys_of<UnaryPreimage>(kUnary, name); }

std::span<const BinaryPreimage> binary_preimages(std::string_view name, KnownOperand known) {
    return keys_of<BinaryPreimage>(known == KnownOperand::Left ? std::span<const Rule<BinaryPreimage>>(kRight)
                                                               : std::span<const Rule<BinaryPreimage>>(kLeft),
                                   name);
}

}  // namespace kiv
