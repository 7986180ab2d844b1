// Batched evaluation against row-by-row evaluation on random expressions and
// data, and the checks of its arguments. (Golden searches pin constant refinement.)
#include <algorithm>
#include <array>
#include <random>

#include "core/block_evaluator.hpp"
#include "engine/constant_refiner.hpp"
#include "invariant.hpp"
#include "test_util.hpp"

namespace kiv {
namespace {

using Rows = std::vector<std::vector<double>>;

// Random well-formed expressions over every token kind, and random numbers of
// which a share are the special values that reach the operators' edge branches.
struct RandomSource {
    std::mt19937_64 rng;
    double special_share = 0.0;

    double number() {
        static constexpr double specials[] = {0.0,   -0.0,   1.0,  -1.0,   kNaN, kInf, -kInf,
                                              1e300, -1e300, 1e15, 1e-300, 40.0, 34.0, 0.5};
        if (chance(special_share)) return specials[below(std::size(specials))];
        return std::uniform_real_distribution<double>(-3.0, 3.0)(rng);
    }
    Complex complex() { return {number(), chance(0.5) ? 0.0 : number()}; }
    bool chance(double p) { return std::bernoulli_distribution(p)(rng); }
    std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); }
    std::size_t id(std::uint8_t arity) {
        const auto ids = builtins().ids_by_arity(arity);
        return ids[below(ids.size())];
    }
    // An expression of exactly `size` tokens; leaves are Var (columns 0-3),
    // Param, Real, Const tokens and constant operators.
    Expression tree(std::size_t size) {
        const std::size_t kind = below(10);
        if (size == 1 && kind < 4) return variable_leaf(static_cast<std::uint8_t>(below(4)));
        if (size == 1 && kind < 6) return chance(0.5) ? param_leaf(complex()) : parameter_leaf();
        if (size == 1 && kind < 8) return real_leaf(number());
        if (size == 1) return {{kind < 9 ? Token::constant(id(0), complex()) : Token::op(0, id(0))}, "k", 1};
        if (size == 2 || chance(0.4)) return apply_unary(id(1), tree(size - 1), builtins());
        const std::size_t left = 1 + below(size - 2);
        return apply_binary(id(2), tree(left), tree(size - 1 - left), builtins());
    }
};

bool is_leaf(const Token& t) { return t.kind != TokenKind::Op || t.arity == 0; }
bool has_nan(Complex z) { return std::isnan(z.re) || std::isnan(z.im); }

// Block evaluation gives the bits of the row-by-row reference, over all rows
// and in a block at an offset with known operands; there the tape's shortcuts
// (other Param values, then one Param replaced) give what evaluating anew gives.
TEST(Evaluation, RandomExpressionsMatchTheRowByRowReferenceOverAllRowsInBlocksAndFromTheTape) {
    RandomSource random{std::mt19937_64(0x6b69765f7372), 0.25};
    BlockEvaluator evaluator;
    const std::size_t row_counts[] = {0, 1, 5, 63, 64, 65, 127, 128, 129, 200};
    std::size_t present = 0, absent = 0, whole_absent = 0, known_used = 0;
    std::vector<Complex> values;  // of a known operand
    std::array<Complex, BlockEvaluator::kBlockRows> block{}, anew{};
    for (int dataset = 0; dataset < 40; ++dataset) {
        // Three columns, read as up to four; rows ragged from 1 to 4 values every third time.
        Rows rows(row_counts[dataset % std::size(row_counts)]);
        for (auto& row : rows) {
            row.resize(dataset % 3 == 2 ? 1 + random.below(4) : 3);
            for (double& v : row) v = random.number();
        }
        const Dataset data = Dataset::from_rows(rows);
        std::vector<Complex> out(data.rows), stack;
        for (int n = 0; n < 50; ++n) {
            // Half the time built as the search builds candidates: an operator over two operands, the right
            // one read from its values on all rows when it has no Param and its columns are on every row.
            const Expression left = random.tree(1 + random.below(6)), right = random.tree(1 + random.below(6));
            const bool composed = random.chance(0.5);
            const Expression e =
                composed ? apply_binary(random.id(2), left, right, builtins()) : random.tree(1 + random.below(12));
            std::vector<KnownValues> known;
            if (composed && right.n_params == 0 && right.n_vars <= data.min_row_length) {
                values.resize(data.rows);
                BlockEvaluator().evaluate(PreparedExpression(right.tokens, data, builtins()), {}, values);
                known.push_back({left.tokens.size(), e.tokens.size() - 2, values.data()});
            }
            std::vector<Complex> params(random.below(e.n_params + 2));
            for (Complex& p : params) p = random.complex();
            SCOPED_TRACE(testing::Message() << "dataset " << dataset << ": " << e.formula << ", " << params.size());
            const PreparedExpression whole(e.tokens, data, builtins()), with_known(e.tokens, data, builtins(), known);
            evaluator.evaluate(whole, params, out);
            // A column missing from any row makes the expression absent on every row.
            const bool missing = e.n_vars > data.min_row_length;
            whole_absent += missing && data.rows > 0;
            for (std::size_t r = 0; r < data.rows; ++r) {
                std::vector<Complex> x;
                for (const double v : rows[r]) x.push_back({v, 0.0});
                stack.clear();
                const Complex reference = eval_internal(e.tokens, x, params, builtins(), stack).value_or(kAbsent);
                // Block evaluation may read a NaN leaf value as absent and vice versa.
                const bool nan_leaf = is_leaf(e.tokens.back()) && (has_nan(out[r]) || has_nan(reference));
                if (missing || nan_leaf) {
                    ASSERT_FALSE(is_acceptable(out[r]) || (!missing && is_acceptable(reference))) << "row " << r;
                    ASSERT_TRUE(!missing || SameBits(out[r], kAbsent)) << "row " << r;
                    continue;
                }
                ASSERT_TRUE(SameBits(out[r], reference)) << "row " << r;
                (is_acceptable(reference) ? present : absent) += 1;
            }
            if (data.rows == 0) continue;
            const std::size_t first = random.below(data.rows);
            const std::size_t count = 1 + random.below(std::min(BlockEvaluator::kBlockRows, data.rows - first));
            evaluator.evaluate_block(with_known, first, count, params, block.data());
            for (std::size_t r = 0; r < count; ++r) ASSERT_TRUE(SameBits(block[r], out[first + r])) << first + r;
            known_used += known.size();
            std::vector<Complex> others(params.size());
            for (Complex& p : others) p = random.complex();
            evaluator.reevaluate_params(with_known, first, count, others, block.data());
            BlockEvaluator().evaluate_block(with_known, first, count, others, anew.data());
            for (std::size_t r = 0; r < count; ++r) ASSERT_TRUE(SameBits(block[r], anew[r])) << first + r;
            if (e.n_params == 0) continue;
            const std::size_t position = with_known.param_positions()[random.below(e.n_params)];
            std::vector<Token> replaced = e.tokens;
            replaced[position] = Token::constant(0, random.complex());
            evaluator.evaluate_with_leaf(with_known, first, count, position, replaced[position].value, block.data());
            BlockEvaluator().evaluate_block(PreparedExpression(replaced, data, builtins(), known), first, count, others,
                                            anew.data());
            for (std::size_t r = 0; r < count; ++r) ASSERT_TRUE(SameBits(block[r], anew[r])) << first + r;
        }
    }
    // The random cases must reach both outcomes, the ragged rule and known operands.
    EXPECT_TRUE(present > 10000 && absent > 5000 && whole_absent > 300 && known_used > 300)
        << present << " present, " << absent << " absent, " << whole_absent << " wholly absent, " << known_used;
}

TEST(Evaluation, MalformedTokensRowsOutsideTheDataAndTargetsOfAnotherLengthAreInvariantViolations) {
    const Dataset data = Dataset::from_rows(Rows(100, {1.0, 2.0}));
    std::vector<Complex> out(100);
    const Expression sum = binary(kPlus, parameter_leaf(), variable_leaf(0));
    const std::vector<std::pair<std::vector<Token>, std::vector<KnownValues>>> refused{
        {{Token::var(0), Token::var(1)}, {}},
        {{Token::var(0), Token::op(2, kPlus)}, {}},
        {sum.tokens, {{0, 0, out.data()}}},                       // a Param's values
        {sum.tokens, {{1, 3, out.data()}}},                       // past the last token
        {sum.tokens, {{1, 1, out.data()}, {0, 0, out.data()}}}};  // out of order
    for (const auto& [tokens, known] : refused)
        EXPECT_THROW(PreparedExpression(tokens, data, builtins(), known), InvariantViolation);
    const PreparedExpression v0(variable_leaf(0).tokens, data, builtins());
    BlockEvaluator evaluator;
    EXPECT_THROW(evaluator.evaluate(v0, {}, std::span(out).first(99)), InvariantViolation);
    EXPECT_THROW(evaluator.recorded(v0, 0, 1, out.data()), InvariantViolation);  // before any evaluation
    for (const auto& [first, count] : {std::pair{0, 65}, {50, 51}, {101, 0}})
        EXPECT_THROW(evaluator.evaluate_block(v0, first, count, {}, out.data()), InvariantViolation);
    EXPECT_NO_THROW(evaluator.evaluate_block(v0, 36, 64, {}, out.data()));  // last rows
    EXPECT_THROW(refine_constants(parameter_leaf(), data, std::vector<double>(99), builtins(), 10, {0, 0.5}),
                 InvariantViolation);
}

}  // namespace
}  // namespace kiv
