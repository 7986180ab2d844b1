#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "core/block_evaluator.hpp"
#include "core/expression.hpp"
#include "core/signature.hpp"
#include "invariant.hpp"
#include "test_util.hpp"

namespace kiv {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const OperatorRegistry& registry() {
    static const OperatorRegistry instance = with_builtins();
    return instance;
}

// Random well-formed expressions over every token kind, and random data with
// the special values that exercise the operators' edge branches.
class RandomSource {
public:
    explicit RandomSource(std::uint64_t seed)
        : rng_(seed), unary_(registry().ids_by_arity(1)), binary_(registry().ids_by_arity(2)),
          constants_(registry().ids_by_arity(0)) {}

    double number() {
        static constexpr std::array<double, 14> specials = {0.0,    -0.0,  1.0, -1.0,  kNaN,   kInf,  -kInf,
                                                            1e300, -1e300, 1e15, 1e-300, 40.0, 34.0, 0.5};
        if (chance(0.25)) return specials[below(specials.size())];
        return std::uniform_real_distribution<double>(-3.0, 3.0)(rng_);
    }
    Complex complex() { return {number(), chance(0.5) ? 0.0 : number()}; }

    bool chance(double p) { return std::bernoulli_distribution(p)(rng_); }
    std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }

    // A leaf: Var (columns 0-3), Param, Real, Const token or constant operator.
    Expression leaf() {
        const std::size_t kind = below(10);
        if (kind < 4) return variable_leaf(static_cast<std::uint8_t>(below(4)));
        if (kind < 6) {
            Expression c = parameter_leaf();
            if (chance(0.5)) c.tokens[0].value = complex();
            return c;
        }
        if (kind < 8) return {{Token::real(number())}, "r", 1, 0, 0};
        const std::size_t id = constants_[below(constants_.size())];
        if (kind < 9) return {{Token::constant(id, complex())}, "k", 1, 0, 0};
        return {{Token::op(0, id)}, registry().meta(id).name, 1, 0, 0};
    }

    // An expression of exactly `size` tokens.
    Expression tree(std::size_t size) {
        if (size == 1) return leaf();
        if (size == 2 || chance(0.4)) return apply_unary(unary_[below(unary_.size())], tree(size - 1), registry());
        const std::size_t left = 1 + below(size - 2);
        return apply_binary(binary_[below(binary_.size())], tree(left), tree(size - 1 - left), registry());
    }

    Expression expression() { return tree(1 + below(12)); }

    // Rows of `width` values; when ragged, each row's length varies from 1 to width + 1.
    std::vector<std::vector<double>> rows(std::size_t count, std::size_t width, bool ragged) {
        std::vector<std::vector<double>> out(count);
        for (auto& row : out) {
            row.resize(ragged ? 1 + below(width + 1) : width);
            for (double& v : row) v = number();
        }
        return out;
    }

    std::vector<Complex> params(std::size_t n_params) {
        std::vector<Complex> out(below(n_params + 2));
        for (Complex& p : out) p = complex();
        return out;
    }

private:
    std::mt19937_64 rng_;
    std::vector<std::size_t> unary_;
    std::vector<std::size_t> binary_;
    std::vector<std::size_t> constants_;
};

std::vector<Complex> complex_row(const std::vector<double>& row) {
    std::vector<Complex> out;
    for (double v : row) out.push_back({v, 0.0});
    return out;
}

bool reads_column_at_or_beyond(const Expression& e, std::size_t column) {
    return std::any_of(e.tokens.begin(), e.tokens.end(),
                       [&](const Token& t) { return t.kind == TokenKind::Var && t.index >= column; });
}

bool is_leaf(const Token& t) { return t.kind != TokenKind::Op || t.arity == 0; }

// Block evaluation may read a NaN leaf value as absent and vice versa.
bool agrees(Complex block, Complex reference, const Expression& e) {
    const bool nan_either = std::isnan(block.re) || std::isnan(block.im) || std::isnan(reference.re) ||
                            std::isnan(reference.im);
    if (is_leaf(e.tokens.back()) && nan_either) return !is_acceptable(block) && !is_acceptable(reference);
    return SameBits(block, reference);
}

TEST(BlockEvaluator, RandomExpressionsMatchRowByRowEvaluation) {
    RandomSource random(0x6b69765f7372);
    BlockEvaluator evaluator;
    const std::size_t row_counts[] = {0, 1, 5, 63, 64, 65, 127, 128, 129, 200};
    std::size_t present = 0, absent = 0, whole_absent = 0;
    std::vector<Complex> stack;
    for (int dataset = 0; dataset < 40; ++dataset) {
        const bool ragged = dataset % 3 == 2;
        const auto rows = random.rows(row_counts[dataset % std::size(row_counts)], 3, ragged);
        const Dataset data = Dataset::from_rows(rows);
        std::vector<Complex> out(data.rows);
        for (int n = 0; n < 50; ++n) {
            const Expression e = random.expression();
            const std::vector<Complex> params = random.params(e.n_params);
            SCOPED_TRACE(testing::Message() << "dataset " << dataset << ", " << e.formula << ", "
                                            << params.size() << " params");
            evaluator.evaluate(e.tokens, data, params, registry(), out);
            // A column missing from any row makes the expression absent on every row.
            const bool missing = reads_column_at_or_beyond(e, data.min_row_length);
            whole_absent += missing && data.rows > 0;
            for (std::size_t r = 0; r < data.rows; ++r) {
                stack.clear();
                const Complex reference =
                    or_absent(eval_internal(e.tokens, complex_row(rows[r]), params, registry(), stack));
                if (missing) {
                    ASSERT_TRUE(SameBits(out[r], kAbsent)) << "row " << r;
                    continue;
                }
                ASSERT_TRUE(agrees(out[r], reference, e))
                    << "row " << r << ": " << testing::PrintToString(out[r]) << " vs "
                    << testing::PrintToString(reference);
                (is_acceptable(reference) ? present : absent) += 1;
            }
        }
    }
    // The random cases must reach both outcomes and the ragged rule.
    EXPECT_GT(present, 10000u);
    EXPECT_GT(absent, 10000u);
    EXPECT_GT(whole_absent, 50u);
}

TEST(BlockEvaluator, BlockAtAnOffsetMatchesRowByRowEvaluation) {
    RandomSource random(7);
    const auto rows = random.rows(150, 2, false);
    const Dataset data = Dataset::from_rows(rows);
    BlockEvaluator evaluator;
    std::vector<Complex> stack;
    std::array<Complex, BlockEvaluator::kBlockRows> out{};
    for (int n = 0; n < 200; ++n) {
        const Expression e = random.expression();
        SCOPED_TRACE(e.formula);
        const std::size_t first = random.below(100);
        const std::size_t count = 1 + random.below(std::min(BlockEvaluator::kBlockRows, data.rows - first));
        evaluator.evaluate_block(e.tokens, data, first, count, {}, registry(), out.data());
        for (std::size_t r = 0; r < count; ++r) {
            stack.clear();
            const auto reference = eval_internal(e.tokens, complex_row(rows[first + r]), {}, registry(), stack);
            if (reads_column_at_or_beyond(e, data.min_row_length)) {
                ASSERT_TRUE(SameBits(out[r], kAbsent));
            } else {
                ASSERT_TRUE(agrees(out[r], or_absent(reference), e)) << "row " << first + r;
            }
        }
    }
}

TEST(BlockEvaluator, ColumnMissingFromOneRowIsAbsentOnEveryRow) {
    const Dataset data = Dataset::from_rows({{1, 2}, {3}, {5, 6}});
    BlockEvaluator evaluator;
    std::vector<Complex> out(3);
    const Expression uses_v1 = apply_binary(8, variable_leaf(0), variable_leaf(1), registry());
    evaluator.evaluate(uses_v1.tokens, data, {}, registry(), out);
    for (const Complex& v : out) EXPECT_BITS_EQ(v, kAbsent);
    const Expression uses_v0 = apply_unary(6, variable_leaf(0), registry());
    evaluator.evaluate(uses_v0.tokens, data, {}, registry(), out);
    EXPECT_BITS_EQ(out[0], (Complex{-1, -0.0}));
    EXPECT_BITS_EQ(out[1], (Complex{-3, -0.0}));
    EXPECT_BITS_EQ(out[2], (Complex{-5, -0.0}));
}

TEST(BlockEvaluator, MalformedTokensAreAnInvariantViolation) {
    const Dataset data = Dataset::from_rows({{1, 2}});
    BlockEvaluator evaluator;
    std::vector<Complex> out(1);
    const std::vector<Token> two_values{Token::var(0), Token::var(1)};
    const std::vector<Token> underflow{Token::var(0), Token::op(2, 8)};
    EXPECT_THROW(evaluator.evaluate(two_values, data, {}, registry(), out), InvariantViolation);
    EXPECT_THROW(evaluator.evaluate(underflow, data, {}, registry(), out), InvariantViolation);
}

TEST(BlockEvaluator, RowsOutsideTheDataAreAnInvariantViolation) {
    const Dataset data = Dataset::from_rows(std::vector<std::vector<double>>(100, {1.0}));
    BlockEvaluator evaluator;
    const std::vector<Token> v0{Token::var(0)};
    std::vector<Complex> out(200);
    EXPECT_THROW(evaluator.evaluate(v0, data, {}, registry(), std::span(out).first(99)), InvariantViolation);
    EXPECT_THROW(evaluator.evaluate_block(v0, data, 0, 65, {}, registry(), out.data()), InvariantViolation);
    EXPECT_THROW(evaluator.evaluate_block(v0, data, 50, 51, {}, registry(), out.data()), InvariantViolation);
    EXPECT_THROW(evaluator.evaluate_block(v0, data, 101, 0, {}, registry(), out.data()), InvariantViolation);
    evaluator.evaluate_block(v0, data, 36, 64, {}, registry(), out.data());
    EXPECT_BITS_EQ(out[63], (Complex{1, 0}));
}

// The search fingerprints a child from its operands' sample values instead of
// evaluating the child: op.eval_block over the operands' values, quantised.
TEST(BlockEvaluator, FingerprintOfAChildFollowsFromItsOperandsSampleValues) {
    RandomSource random(2718);
    std::size_t compared = 0, rejected = 0;
    for (int n = 0; n < 600; ++n) {
        const Expression a = random.tree(1 + random.below(6));
        const Expression b = random.tree(1 + random.below(6));
        const SampleValues sa = sample_values(a, registry());
        const SampleValues sb = sample_values(b, registry());
        const bool a_defined = std::all_of(sa.begin(), sa.end(), is_acceptable);
        const bool b_defined = std::all_of(sb.begin(), sb.end(), is_acceptable);
        for (const std::uint8_t arity : {1, 2}) {
            for (const std::size_t k : registry().ids_by_arity(arity)) {
                const Expression child =
                    arity == 1 ? apply_unary(k, a, registry()) : apply_binary(k, a, b, registry());
                SCOPED_TRACE(child.formula);
                const std::array<const Complex*, 2> args{sa.data(), sb.data()};
                SampleValues values;
                registry().op(k).eval_block(args.data(), values.data(), kSampleCount);
                const auto incremental = quantize(values);
                const bool operands_defined = a_defined && (arity == 1 || b_defined);
                if (operands_defined) {
                    ASSERT_EQ(incremental, fingerprint(child, registry()));
                    ++compared;
                    continue;
                }
                // An operand undefined at a sample point: a composite operand
                // is then absent there, and so is every child. A single leaf
                // holding an out-of-range value has no fingerprint itself and
                // never becomes an operand.
                const bool leaf_operand_out_of_range = (!a_defined && a.complexity == 1) ||
                                                       (arity == 2 && !b_defined && b.complexity == 1);
                if (leaf_operand_out_of_range) {
                    EXPECT_FALSE(fingerprint(a.complexity == 1 && !a_defined ? a : b, registry()).has_value());
                } else {
                    EXPECT_FALSE(incremental.has_value());
                    EXPECT_FALSE(fingerprint(child, registry()).has_value());
                }
                ++rejected;
            }
        }
    }
    EXPECT_GT(compared, 1000u);
    EXPECT_GT(rejected, 500u);
}

}  // namespace
}  // namespace kiv

namespace kiv {
namespace {

TEST(BlockEvaluator, ChangingOneLeafMatchesAFreshEvaluation) {
    RandomSource random(99);
    BlockEvaluator evaluator;
    const auto rows = random.rows(64, 3, false);
    const Dataset data = Dataset::from_rows(rows);
    std::array<Complex, BlockEvaluator::kBlockRows> changed{}, fresh{}, unused{};
    std::size_t compared = 0;
    for (int n = 0; n < 3000; ++n) {
        const Expression e = random.expression();
        if (e.n_params == 0 || is_leaf(e.tokens.back())) continue;
        std::vector<Complex> params(e.n_params);
        for (Complex& p : params) p = random.complex();
        const std::size_t k = random.below(e.n_params);
        std::size_t position = 0;
        while (e.tokens[position].kind != TokenKind::Param || e.tokens[position].index != k) ++position;
        const Complex value = random.complex();
        SCOPED_TRACE(e.formula);
        evaluator.evaluate_block(e.tokens, data, 0, data.rows, params, registry(), unused.data());
        evaluator.evaluate_with_leaf(0, data.rows, position, value, registry(), changed.data());
        params[k] = value;
        BlockEvaluator().evaluate_block(e.tokens, data, 0, data.rows, params, registry(), fresh.data());
        for (std::size_t r = 0; r < data.rows; ++r) ASSERT_TRUE(SameBits(changed[r], fresh[r])) << "row " << r;
        ++compared;
    }
    EXPECT_GT(compared, 300u);
}

}  // namespace
}  // namespace kiv
