#include "core/block_evaluator.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <vector>

#include "core/signature.hpp"
#include "invariant.hpp"
#include "test_util.hpp"

namespace kiv {
namespace {

// Random well-formed expressions over every token kind, and random data with
// the special values that exercise the operators' edge branches.
class RandomSource {
public:
    explicit RandomSource(std::uint64_t seed) : rng_(seed) {}

    double number() {
        static constexpr double specials[] = {0.0,   -0.0, 1.0,    -1.0, kNaN, kInf, -kInf,
                                              1e300, -1e300, 1e15, 1e-300, 40.0, 34.0, 0.5};
        if (chance(0.25)) return specials[below(std::size(specials))];
        return std::uniform_real_distribution<double>(-3.0, 3.0)(rng_);
    }
    Complex complex() { return {number(), chance(0.5) ? 0.0 : number()}; }
    bool chance(double p) { return std::bernoulli_distribution(p)(rng_); }
    std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }
    std::size_t id(std::uint8_t arity) {
        const auto ids = builtins().ids_by_arity(arity);
        return ids[below(ids.size())];
    }

    // A leaf: Var (columns 0-3), Param, Real, Const token or constant operator.
    Expression leaf() {
        const std::size_t kind = below(10);
        if (kind < 4) return variable_leaf(static_cast<std::uint8_t>(below(4)));
        if (kind < 6) return chance(0.5) ? param_leaf(complex()) : parameter_leaf();
        if (kind < 8) return real_leaf(number());
        if (kind < 9) return {{Token::constant(id(0), complex())}, "k", 1, 0, 0};
        return {{Token::op(0, id(0))}, "k", 1, 0, 0};
    }

    // An expression of exactly `size` tokens.
    Expression tree(std::size_t size) {
        if (size == 1) return leaf();
        if (size == 2 || chance(0.4)) return unary(id(1), tree(size - 1));
        const std::size_t left = 1 + below(size - 2);
        return binary(id(2), tree(left), tree(size - 1 - left));
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

private:
    std::mt19937_64 rng_;
};

bool is_leaf(const Token& t) { return t.kind != TokenKind::Op || t.arity == 0; }

// Block evaluation may read a NaN leaf value as absent and vice versa.
bool agrees(Complex block, Complex reference, const Expression& e) {
    const bool nan_either =
        std::isnan(block.re) || std::isnan(block.im) || std::isnan(reference.re) || std::isnan(reference.im);
    if (is_leaf(e.tokens.back()) && nan_either) return !is_acceptable(block) && !is_acceptable(reference);
    return SameBits(block, reference);
}

TEST(BlockEvaluator, RandomExpressionsMatchRowByRowEvaluationAlsoAfterChangingOneLeaf) {
    RandomSource random(0x6b69765f7372);
    BlockEvaluator evaluator;
    const std::size_t row_counts[] = {0, 1, 5, 63, 64, 65, 127, 128, 129, 200};
    std::size_t present = 0, absent = 0, whole_absent = 0, leaf_changes = 0;
    std::vector<Complex> stack;
    std::array<Complex, BlockEvaluator::kBlockRows> block{}, fresh{};
    for (int dataset = 0; dataset < 40; ++dataset) {
        const auto rows = random.rows(row_counts[dataset % std::size(row_counts)], 3, dataset % 3 == 2);
        const Dataset data = Dataset::from_rows(rows);
        std::vector<Complex> out(data.rows);
        for (int n = 0; n < 50; ++n) {
            const Expression e = random.expression();
            std::vector<Complex> params(random.below(e.n_params + 2));
            for (Complex& p : params) p = random.complex();
            SCOPED_TRACE(testing::Message() << "dataset " << dataset << ", " << e.formula << ", " << params.size()
                                            << " params");
            evaluator.evaluate(e.tokens, data, params, builtins(), out);
            // A column missing from any row makes the expression absent on every row.
            const bool missing = std::any_of(e.tokens.begin(), e.tokens.end(), [&](const Token& t) {
                return t.kind == TokenKind::Var && t.index >= data.min_row_length;
            });
            whole_absent += missing && data.rows > 0;
            for (std::size_t r = 0; r < data.rows; ++r) {
                stack.clear();
                const Complex reference =
                    or_absent(eval_internal(e.tokens, complex_row(rows[r]), params, builtins(), stack));
                if (missing) {
                    ASSERT_TRUE(SameBits(out[r], kAbsent)) << "row " << r;
                    continue;
                }
                ASSERT_TRUE(agrees(out[r], reference, e)) << "row " << r << ": " << testing::PrintToString(out[r])
                                                          << " vs " << testing::PrintToString(reference);
                (is_acceptable(reference) ? present : absent) += 1;
            }
            if (data.rows == 0) continue;
            // A block at an offset gives the values of the whole evaluation.
            const std::size_t first = random.below(data.rows);
            const std::size_t count = 1 + random.below(std::min(BlockEvaluator::kBlockRows, data.rows - first));
            evaluator.evaluate_block(e.tokens, data, first, count, params, builtins(), block.data());
            for (std::size_t r = 0; r < count; ++r) ASSERT_TRUE(SameBits(block[r], out[first + r])) << first + r;
            // Changing one Param leaf of that block gives what a fresh evaluation with its new value gives.
            if (e.n_params == 0 || is_leaf(e.tokens.back())) continue;
            const std::size_t k = random.below(e.n_params);
            std::size_t position = 0;
            while (e.tokens[position].kind != TokenKind::Param || e.tokens[position].index != k) ++position;
            std::vector<Token> tokens = e.tokens;
            std::vector<Complex> changed = params;
            const Complex value = random.complex();
            (k < changed.size() ? changed[k] : tokens[position].value) = value;
            evaluator.evaluate_with_leaf(first, count, position, value, builtins(), block.data());
            BlockEvaluator().evaluate_block(tokens, data, first, count, changed, builtins(), fresh.data());
            for (std::size_t r = 0; r < count; ++r) ASSERT_TRUE(SameBits(block[r], fresh[r])) << first + r;
            ++leaf_changes;
        }
    }
    // The random cases must reach both outcomes and the ragged rule.
    EXPECT_GT(present, 10000u);
    EXPECT_GT(absent, 10000u);
    EXPECT_GT(whole_absent, 50u);
    EXPECT_GT(leaf_changes, 300u);
}

// The two shortcuts of repeated evaluation: operands read from their known
// values, and only the Param-dependent tokens evaluated again for new
// Param values. Both must give exactly what a full evaluation gives.
TEST(BlockEvaluator, KnownOperandsAndReevaluatedParamsMatchFullEvaluation) {
    RandomSource random(0x6b6e6f776e);
    std::size_t known_used = 0, reevaluated = 0;
    std::array<Complex, BlockEvaluator::kBlockRows> block{}, fresh{};
    for (int dataset = 0; dataset < 30; ++dataset) {
        const auto rows = random.rows(1 + random.below(150), 3, false);
        const Dataset data = Dataset::from_rows(rows);
        for (int n = 0; n < 40; ++n) {
            const Expression left = random.tree(1 + random.below(6)), right = random.tree(1 + random.below(6));
            const Expression e = binary(random.id(2), left, right);
            SCOPED_TRACE(testing::Message() << "dataset " << dataset << ", " << e.formula);
            std::vector<std::vector<Complex>> operand_values;
            std::vector<KnownValues> known;
            std::size_t first_token = 0;
            for (const Expression* operand : {&left, &right}) {
                const std::size_t last_token = first_token + operand->tokens.size() - 1;
                if (operand->n_params == 0 && random.chance(0.8)) {
                    operand_values.emplace_back(data.rows);
                    BlockEvaluator().evaluate(operand->tokens, data, {}, builtins(), operand_values.back());
                    known.push_back({first_token, last_token, operand_values.back().data()});
                }
                first_token = last_token + 1;
            }
            const std::size_t first = random.below(data.rows);
            const std::size_t count = 1 + random.below(std::min(BlockEvaluator::kBlockRows, data.rows - first));
            BlockEvaluator evaluator;
            evaluator.evaluate_block(e.tokens, data, first, count, {}, builtins(), block.data(), known);
            BlockEvaluator().evaluate_block(e.tokens, data, first, count, {}, builtins(), fresh.data());
            for (std::size_t r = 0; r < count; ++r) ASSERT_TRUE(SameBits(block[r], fresh[r])) << first + r;
            known_used += known.size();
            if (e.n_params == 0) continue;
            std::vector<Complex> params(e.n_params);
            for (Complex& p : params) p = random.complex();
            evaluator.reevaluate_params(first, count, params, builtins(), block.data());
            BlockEvaluator().evaluate_block(e.tokens, data, first, count, params, builtins(), fresh.data());
            for (std::size_t r = 0; r < count; ++r) ASSERT_TRUE(SameBits(block[r], fresh[r])) << first + r;
            ++reevaluated;
        }
    }
    EXPECT_GT(known_used, 300u);
    EXPECT_GT(reevaluated, 300u);
}

TEST(BlockEvaluator, MalformedTokensAndRowsOutsideTheDataAreInvariantViolations) {
    const Dataset data = Dataset::from_rows(std::vector<std::vector<double>>(100, {1.0, 2.0}));
    BlockEvaluator evaluator;
    std::vector<Complex> out(200);
    const std::vector<Token> v0{Token::var(0)}, two_values{Token::var(0), Token::var(1)},
        underflow{Token::var(0), Token::op(2, kPlus)};
    const auto all = std::span(out).first(100);
    EXPECT_THROW(evaluator.evaluate(two_values, data, {}, builtins(), all), InvariantViolation);
    EXPECT_THROW(evaluator.evaluate(underflow, data, {}, builtins(), all), InvariantViolation);
    EXPECT_THROW(evaluator.evaluate(v0, data, {}, builtins(), std::span(out).first(99)), InvariantViolation);
    EXPECT_THROW(evaluator.evaluate_block(v0, data, 0, 65, {}, builtins(), out.data()), InvariantViolation);
    EXPECT_THROW(evaluator.evaluate_block(v0, data, 50, 51, {}, builtins(), out.data()), InvariantViolation);
    EXPECT_THROW(evaluator.evaluate_block(v0, data, 101, 0, {}, builtins(), out.data()), InvariantViolation);
    evaluator.evaluate_block(v0, data, 36, 64, {}, builtins(), out.data());
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
        const SampleValues sa = sample_values(a, builtins());
        const SampleValues sb = sample_values(b, builtins());
        const bool a_defined = std::all_of(sa.begin(), sa.end(), is_acceptable);
        const bool b_defined = std::all_of(sb.begin(), sb.end(), is_acceptable);
        for (const std::uint8_t arity : {1, 2}) {
            for (const std::size_t k : builtins().ids_by_arity(arity)) {
                const Expression child = arity == 1 ? unary(k, a) : binary(k, a, b);
                SCOPED_TRACE(child.formula);
                const std::array<const Complex*, 2> args{sa.data(), sb.data()};
                SampleValues values;
                builtins().op(k).eval_block(args.data(), values.data(), kSampleCount);
                // A single leaf out of range has no fingerprint and never becomes an operand.
                if ((!a_defined && a.complexity == 1) || (arity == 2 && !b_defined && b.complexity == 1)) continue;
                // An operand undefined at a sample point leaves the child without a fingerprint.
                const bool defined = a_defined && (arity == 1 || b_defined);
                const auto incremental = quantize(values);
                ASSERT_EQ(incremental, fingerprint(child, builtins()));
                ASSERT_TRUE(defined || !incremental.has_value());
                ++(defined ? compared : rejected);
            }
        }
    }
    EXPECT_GT(compared, 1000u);
    EXPECT_GT(rejected, 500u);
}

}  // namespace
}  // namespace kiv
