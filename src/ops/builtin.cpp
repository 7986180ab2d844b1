#include "ops/builtin.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdint>

#include "invariant.hpp"
#include "ops/lanes.hpp"

namespace kiv {
namespace {

using Maybe = std::optional<Complex>;

// Text templates mark the first argument with \1 and the second with \2.
std::string fill(std::string_view pattern, std::span<const std::string> args) {
    std::string out;
    for (const char c : pattern) {
        if (c == '\1')
            out += args[0];
        else if (c == '\2')
            out += args[1];
        else
            out += c;
    }
    return out;
}

// i*z written as the full complex product, as the inverse trigonometric
// rules require (the zero products matter for signed zeros).
Complex times_i(Complex z) { return {z.re * 0.0 - z.im, z.re + z.im * 0.0}; }

// Shared first step of ArcSin and ArcCos: q = i*z + sqrt(1 - z^2).
Complex arcsin_argument(Complex z) {
    const double x = z.re;
    const double y = z.im;
    const Complex t = times_i(z);
    const double xy = x * y;
    const Complex root = sqrt(Complex{(y * y - x * x) + 1.0, 0.0 - (xy + xy)});
    return {t.re + root.re, t.im + root.im};
}

// The real factors of the complex sine and cosine. cosh(±0) is 1 and
// sinh(±0) is ±0 exactly, so on the real axis those calls are skipped.
struct TrigParts {
    double sin_x, cos_x, cosh_y, sinh_y;
    explicit TrigParts(Complex z)
        : sin_x(std::sin(z.re)),
          cos_x(std::cos(z.re)),
          cosh_y(z.im == 0.0 ? 1.0 : std::cosh(z.im)),
          sinh_y(z.im == 0.0 ? z.im : std::sinh(z.im)) {}
    Complex sine() const { return {sin_x * cosh_y, cos_x * sinh_y}; }
    Complex cosine() const { return {cos_x * cosh_y, -(sin_x * sinh_y)}; }
};

// Whether m is p's conjugate off the real axis, where ln m is then ln p's
// conjugate to the bit: hypot is even and atan2 odd in the imaginary part
// (a zero real part gives ±pi/2 whatever its sign). For a real argument
// ArcTan's two logarithms are such a pair, so half of its hypot, log and
// atan2 calls are saved.
bool is_conjugate(Complex m, Complex p) { return m.re == p.re && m.im == -p.im && p.im != 0.0; }

template <class C>
C square(C z) {
    return {z.re * z.re - z.im * z.im, z.re * z.im + z.re * z.im};
}

// |z| != 0, as is_zero decides it, for one row or for lanes of rows.
template <class C>
auto nonzero(C z) {
    return (z.re != 0.0) | (z.im != 0.0);
}

// LaTeX layouts shared by several rules. A rule without a layout encloses
// its operands itself ("\sin(\1)", "\frac{\1}{\2}") and reads as applied.
using enum LatexShape;
constexpr LatexLayout kSumLayout{Sum};
// "{\1}^2": any base but a single symbol or a parenthesised one reads wrong.
constexpr LatexLayout kPowerLayout{Power, {LatexShapes{Signed, Sum, Product, Power, Applied}}};

struct KivRule {
    static constexpr const char* type = "Kiv";
    static constexpr const char* name = "KIV";
    static constexpr const char* latex = "e^{\1} - \\ln(\2)";
    static constexpr LatexLayout layout = kSumLayout;
    static constexpr const char* python = "(np.exp(\1) - np.log(\2))";
    static Maybe apply(Complex z, Complex w) {
        if (is_zero(w)) return {};
        const Complex e = exp(z);
        const Complex l = log(w);
        return Complex{e.re - l.re, e.im - l.im};
    }
};
struct NegRule {
    static constexpr const char* type = "Neg";
    static constexpr const char* name = "Neg";
    static constexpr const char* latex = "(-(\1))";
    static constexpr LatexLayout layout = LatexLayout{Enclosed};
    static constexpr const char* python = "(-(\1))";
    static auto value(auto z) { return decltype(z){-z.re, -z.im}; }
};
struct InvRule {
    static constexpr const char* type = "Inv";
    static constexpr const char* name = "Inv";
    static constexpr const char* latex = "\\frac{1}{\1}";
    static constexpr const char* python = "(1/(\1))";
    static auto defined(auto z) { return nonzero(z); }
    static auto value(auto z) { return divide(constant<decltype(z)>({1.0, 0.0}), z); }
};
struct PlusRule {
    static constexpr const char* type = "Plus";
    static constexpr const char* name = "Plus";
    static constexpr bool commutative = true;
    static constexpr const char* latex = "\1 + \2";
    static constexpr LatexLayout layout = kSumLayout;
    static constexpr const char* python = "(\1)+(\2)";
    static auto value(auto z, auto w) { return decltype(z){z.re + w.re, z.im + w.im}; }
};
struct TimesRule {
    static constexpr const char* type = "Times";
    static constexpr const char* name = "Times";
    static constexpr bool commutative = true;
    static constexpr const char* latex = "\1 \\cdot \2";
    static constexpr LatexLayout layout = LatexLayout{Product, {LatexShapes{Sum}, LatexShapes{Sum}}};
    static constexpr const char* python = "(\1)*(\2)";
    static auto value(auto z, auto w) { return decltype(z){z.re * w.re - z.im * w.im, z.im * w.re + z.re * w.im}; }
};
struct SubtractRule {
    static constexpr const char* type = "Subtract";
    static constexpr const char* name = "Subtract";
    static constexpr const char* latex = "\1 - \2";
    static constexpr LatexLayout layout = LatexLayout{Sum, {LatexShapes{}, LatexShapes{Sum}}};
    static constexpr const char* python = "(\1)-(\2)";
    static auto value(auto z, auto w) { return decltype(z){z.re - w.re, z.im - w.im}; }
};
struct DivideRule {
    static constexpr const char* type = "Divide";
    static constexpr const char* name = "Divide";
    static constexpr const char* latex = "\\frac{\1}{\2}";
    static constexpr const char* python = "((\1)/(\2))";
    static auto defined(auto, auto w) { return nonzero(w); }
    static auto value(auto z, auto w) { return divide(z, w); }
};
struct ExpRule {
    static constexpr const char* type = "Exp";
    static constexpr const char* name = "Exp";
    static constexpr const char* latex = "e^{\1}";
    static constexpr LatexLayout layout = LatexLayout{Power};
    static constexpr const char* python = "np.exp(\1)";
    static Maybe apply(Complex z) { return exp(z); }
};
struct LogRule {
    static constexpr const char* type = "Log";
    static constexpr const char* name = "Log";
    static constexpr const char* latex = "\\ln(\1)";
    static constexpr const char* python = "np.log(\1)";
    static Maybe apply(Complex z) {
        if (is_zero(z)) return {};
        return log(z);
    }
};
struct SqrtRule {
    static constexpr const char* type = "Sqrt";
    static constexpr const char* name = "Sqrt";
    static constexpr const char* latex = "\\sqrt{\1}";
    static constexpr const char* python = "np.sqrt(\1)";
    static Maybe apply(Complex z) { return sqrt(z); }
};
struct SinRule {
    static constexpr const char* type = "Sin";
    static constexpr const char* name = "Sin";
    static constexpr const char* latex = "\\sin(\1)";
    static constexpr const char* python = "np.sin(\1)";
    static Maybe apply(Complex z) { return TrigParts(z).sine(); }
};
struct CosRule {
    static constexpr const char* type = "Cos";
    static constexpr const char* name = "Cos";
    static constexpr const char* latex = "\\cos(\1)";
    static constexpr const char* python = "np.cos(\1)";
    static Maybe apply(Complex z) { return TrigParts(z).cosine(); }
};
struct TanRule {
    static constexpr const char* type = "Tan";
    static constexpr const char* name = "Tan";
    static constexpr const char* latex = "\\tan(\1)";
    static constexpr const char* python = "np.tan(\1)";
    static Maybe apply(Complex z) {
        const TrigParts parts(z);
        const Complex n = parts.sine();
        const Complex c = parts.cosine();
        if (is_zero(c)) return {};
        return divide(n, c);
    }
};
struct ArcSinRule {
    static constexpr const char* type = "ArcSin";
    static constexpr const char* name = "ArcSin";
    static constexpr const char* latex = "\\arcsin(\1)";
    static constexpr const char* python = "np.arcsin(\1)";
    static Maybe apply(Complex z) {
        const Complex q = arcsin_argument(z);
        if (is_zero(q)) return {};
        return log(q);
    }
    static auto finish(auto l) { return decltype(l){l.im + l.re * -0.0, l.im * -0.0 - l.re}; }
};
struct ArcCosRule {
    static constexpr const char* type = "ArcCos";
    static constexpr const char* name = "ArcCos";
    static constexpr const char* latex = "\\arccos(\1)";
    static constexpr const char* python = "np.arccos(\1)";
    static Maybe apply(Complex z) {
        const Complex q = arcsin_argument(z);
        if (is_zero(q)) return {};
        return log(q);
    }
    static auto finish(auto l) {
        constexpr double half_pi = 1.5707963267948966;
        return decltype(l){(l.re * 0.0 - l.im) + half_pi, (l.re + l.im * 0.0) + 0.0};
    }
};
struct ArcTanRule {
    static constexpr const char* type = "ArcTan";
    static constexpr const char* name = "ArcTan";
    static constexpr const char* latex = "\\arctan(\1)";
    static constexpr const char* python = "np.arctan(\1)";
    static Maybe apply(Complex z) {
        const Complex t = times_i(z);
        const Complex p{1.0 - t.re, 0.0 - t.im};
        const Complex m{t.re + 1.0, t.im + 0.0};
        if (is_zero(p) || is_zero(m)) return {};
        const Complex lp = log(p);
        const Complex lm = is_conjugate(m, p) ? Complex{lp.re, -lp.im} : log(m);
        return Complex{lp.re - lm.re, lp.im - lm.im};
    }
    static auto finish(auto d) { return decltype(d){0.0 * d.re - 0.5 * d.im, 0.5 * d.re + 0.0 * d.im}; }
};
struct SquareRule {
    static constexpr const char* type = "Square";
    static constexpr const char* name = "Square";
    static constexpr const char* latex = "{\1}^2";
    static constexpr LatexLayout layout = kPowerLayout;
    static constexpr const char* python = "(\1)**2";
    static auto value(auto z) { return square(z); }
};
struct CubeRule {
    static constexpr const char* type = "Cube";
    static constexpr const char* name = "Cube";
    static constexpr const char* latex = "{\1}^3";
    static constexpr LatexLayout layout = kPowerLayout;
    static constexpr const char* python = "(\1)**3";
    static auto value(auto z) {
        const auto s = square(z);
        return decltype(z){z.re * s.re - z.im * s.im, z.re * s.im + z.im * s.re};
    }
};

// v where `keep` and acceptable, else kAbsent. Selecting part by part keeps
// the value in registers; selecting the whole Complex made GCC pick a
// pointer to v or to kAbsent and read the result back through memory, a
// store-forwarding stall on every row.
Complex screened(Complex v, bool keep = true) {
    keep = keep & is_acceptable(v);
    return {keep ? v.re : kAbsent.re, keep ? v.im : kAbsent.im};
}

// The same on lanes of rows, with |x| taken by clearing the sign bit.
Lanes screened(Lanes v, Mask keep = ~Mask{}) {
    const Mask no_sign = Mask{} + INT64_MAX;
    keep &= (std::bit_cast<LaneParts>(std::bit_cast<Mask>(v.re) & no_sign) < kMagnitudeBound) &
            (std::bit_cast<LaneParts>(std::bit_cast<Mask>(v.im) & no_sign) < kMagnitudeBound);
    const Lanes absent = Lanes::broadcast(kAbsent);
    return {keep ? v.re : absent.re, keep ? v.im : absent.im};
}

// A rule is either arithmetic, a `value` computed on any arguments and, when
// some points are undefined, a `defined` test, or it calls the math library
// behind special cases and says itself where it is undefined (`apply`).
// The arithmetic after a library rule's last call may be its `finish`,
// which then runs over lanes of rows too.
template <class Rule>
concept Arithmetic = requires(Complex z) { Rule::value(z); } || requires(Complex z) { Rule::value(z, z); };

template <class Rule>
concept Binary = requires(Complex z) { Rule::apply(z, z); } || requires(Complex z) { Rule::value(z, z); };

template <class Rule, class C>
C finished(C v) {
    if constexpr (requires { Rule::finish(v); })
        return Rule::finish(v);
    else
        return v;
}

template <class Rule, class... Args>
Maybe result_at(Args... args) {
    if constexpr (Arithmetic<Rule>) {
        if constexpr (requires { Rule::defined(args...); })
            if (!Rule::defined(args...)) return {};
        return Rule::value(args...);
    } else {
        const Maybe applied = Rule::apply(args...);
        if (!applied) return {};
        return finished<Rule>(*applied);
    }
}

template <class Rule>
constexpr bool commutative_rule() {
    if constexpr (requires { Rule::commutative; }) return Rule::commutative;
    return false;
}

template <class Rule>
constexpr LatexLayout layout_of_rule() {
    if constexpr (requires { Rule::layout; }) return Rule::layout;
    return LatexLayout{};
}

// One stateless operator type per rule; the rule is inlined into both the
// single-point and the block evaluation.
template <class Rule>
class Builtin final : public Operator {
public:
    static constexpr unsigned kArity = Binary<Rule> ? 2 : 1;

    std::string_view name() const override { return Rule::name; }
    unsigned arity() const override { return kArity; }
    bool is_commutative() const override { return commutative_rule<Rule>(); }

    std::optional<Complex> eval(std::span<const Complex> args) const override {
        require(args.size());
        if constexpr (kArity == 2)
            return result_at<Rule>(args[0], args[1]);
        else
            return result_at<Rule>(args[0]);
    }

    void eval_block(const Complex* const* args, Complex* out, std::size_t rows) const override {
        if constexpr (Arithmetic<Rule> && kArity == 2)
            arithmetic_block(out, rows, args[0], args[1]);
        else if constexpr (Arithmetic<Rule>)
            arithmetic_block(out, rows, args[0]);
        else
            library_block(args, out, rows);
    }

    std::string to_latex(std::span<const std::string> args) const override {
        require(args.size());
        return fill(Rule::latex, args);
    }
    LatexLayout latex_layout() const override { return layout_of_rule<Rule>(); }
    std::string to_python(std::span<const std::string> args) const override {
        require(args.size());
        return fill(Rule::python, args);
    }
    std::string debug_text() const override { return Rule::type; }

private:
    // The library calls row by row, then the finish and the screening
    // kLanes rows at a time; neither waits for a call to return. An absent
    // row is NaN in both parts, which every finish keeps NaN.
    static void library_block(const Complex* const* args, Complex* out, std::size_t rows) {
        for (std::size_t r = 0; r < rows; ++r) out[r] = applied_row(args, r).value_or(kAbsent);
        std::size_t r = 0;
        for (; r + kLanes <= rows; r += kLanes) screened(finished<Rule>(Lanes::load(out + r))).store(out + r);
        for (; r < rows; ++r) out[r] = screened(finished<Rule>(out[r]));
    }

    static Maybe applied_row(const Complex* const* args, std::size_t r) {
        if constexpr (kArity == 2)
            return Rule::apply(args[0][r], args[1][r]);
        else
            return Rule::apply(args[0][r]);
    }

    // No branch per row: every row's value is computed and the undefined or
    // unacceptable ones replaced afterwards, kLanes rows per instruction,
    // then any last rows one at a time by the same arithmetic. Rows are read
    // before they are written, so `out` may alias the first operand.
    template <class... Operands>
    static void arithmetic_block(Complex* out, std::size_t rows, const Operands*... operands) {
        std::size_t r = 0;
        for (; r + kLanes <= rows; r += kLanes) screened_value(Lanes::load(operands + r)...).store(out + r);
        for (; r < rows; ++r) out[r] = screened_value(operands[r]...);
    }

    template <class... C>
    static auto screened_value(C... z) {
        if constexpr (requires { Rule::defined(z...); })
            return screened(Rule::value(z...), Rule::defined(z...));
        else
            return screened(Rule::value(z...));
    }

    static void require(std::size_t count) { check_index(kArity - 1, count, "src/ops/builtin"); }
};

std::string shortest(double v) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
    return std::string(buffer, result.ptr);
}

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

template <class... Rules>
std::vector<std::unique_ptr<Operator>> make_all() {
    std::vector<std::unique_ptr<Operator>> ops;
    (ops.push_back(std::make_unique<Builtin<Rules>>()), ...);
    return ops;
}

}  // namespace

ConstOp::ConstOp(std::string name, std::string latex, std::string python, Complex value)
    : name_(std::move(name)), latex_(std::move(latex)), python_(std::move(python)), value_(value) {}

void ConstOp::eval_block(const Complex* const*, Complex* out, std::size_t rows) const {
    std::fill_n(out, rows, is_acceptable(value_) ? value_ : kAbsent);
}

std::string ConstOp::debug_text() const {
    return "ConstOp { name: " + quoted(name_) + ", latex: " + quoted(latex_) + ", python: " + quoted(python_) +
           ", value: Complex { re: " + shortest(value_.re) + ", im: " + shortest(value_.im) + " } }";
}

std::vector<std::unique_ptr<Operator>> all_builtins() {
    return make_all<KivRule, NegRule, InvRule, PlusRule, TimesRule, SubtractRule, DivideRule, ExpRule, LogRule,
                    SqrtRule, SinRule, CosRule, TanRule, ArcSinRule, ArcCosRule, ArcTanRule, SquareRule, CubeRule>();
}

std::vector<std::unique_ptr<Operator>> builtin_constants() {
    std::vector<std::unique_ptr<Operator>> ops;
    ops.push_back(std::make_unique<ConstOp>("0", "0", "0", Complex{0.0, 0.0}));
    ops.push_back(std::make_unique<ConstOp>("1", "1", "1", Complex{1.0, 0.0}));
    ops.push_back(std::make_unique<ConstOp>("I", "i", "1j", Complex{0.0, 1.0}));
    ops.push_back(std::make_unique<ConstOp>("Pi", "\\pi", "np.pi", Complex{3.141592653589793, 0.0}));
    ops.push_back(std::make_unique<ConstOp>("E", "e", "np.e", Complex{2.718281828459045, 0.0}));
    return ops;
}

}  // namespace kiv
