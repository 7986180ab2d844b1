#include "engine/beam.hpp"

#include <algorithm>

#include "engine/operator_sequence_key.hpp"
#include "invariant.hpp"

namespace kiv {

namespace {

bool reads_complete_columns_only(const Expression& expression, const Dataset& data) {
    return std::none_of(expression.tokens.begin(), expression.tokens.end(), [&](const Token& token) {
        return token.kind == TokenKind::Var && token.index >= data.min_row_length;
    });
}

}  // namespace

BeamEntry BeamEntry::make(Expression expression, const OperatorRegistry& registry, const Dataset& data) {
    const SampleValues samples = sample_values(expression, registry);
    const bool defined = std::all_of(samples.begin(), samples.end(), is_acceptable);
    std::string key = operator_sequence_key(expression.tokens);
    std::vector<Complex> values;
    if (expression.n_params == 0 && reads_complete_columns_only(expression, data)) {
        values.resize(data.rows);
        BlockEvaluator().evaluate(PreparedExpression(expression.tokens, data, registry), {}, values);
    }
    return {std::move(expression), samples, defined, std::move(key), std::move(values)};
}

const std::vector<BeamEntry>& Beam::bucket(std::size_t level) const {
    check_index(level, buckets_.size(), "src/engine/beam");
    return buckets_[level];
}

const BeamEntry& Beam::left(const Recipe& recipe) const {
    const auto& entries = bucket(recipe.left_level);
    check_index(recipe.left, entries.size(), "src/engine/beam");
    return entries[recipe.left];
}

const BeamEntry* Beam::right(const Recipe& recipe, std::size_t level) const {
    const std::size_t right_level = level - 1 - recipe.left_level;
    if (right_level == 0) return nullptr;
    const auto& entries = bucket(right_level);
    check_index(recipe.right, entries.size(), "src/engine/beam");
    return &entries[recipe.right];
}

void Beam::write_tokens(const Recipe& recipe, std::size_t level, std::vector<Token>& out) const {
    const Expression& a = left(recipe).expression;
    out.assign(a.tokens.begin(), a.tokens.end());
    std::uint8_t arity = 1;
    if (const BeamEntry* b = right(recipe, level)) {
        arity = 2;
        for (Token token : b->expression.tokens) {
            if (token.kind == TokenKind::Param) token.index = static_cast<std::uint8_t>(token.index + a.n_params);
            out.push_back(token);
        }
    }
    out.push_back(Token::op(arity, recipe.op_id));
}

Expression Beam::materialize(const Recipe& recipe, std::size_t level, const OperatorRegistry& registry,
                             std::span<const double> params) const {
    const Expression& a = left(recipe).expression;
    const BeamEntry* b = right(recipe, level);
    Expression e = b ? apply_binary(recipe.op_id, a, b->expression, registry) : apply_unary(recipe.op_id, a, registry);
    if (!params.empty()) set_param_values(e.tokens, params);
    return e;
}

std::string Beam::op_key(const Recipe& recipe, std::size_t level) const {
    const BeamEntry* b = right(recipe, level);
    return operator_sequence_key(left(recipe).op_key, b ? std::string_view(b->op_key) : std::string_view(),
                                 recipe.op_id);
}

void Beam::known_operands(const Recipe& recipe, std::size_t level, std::vector<KnownValues>& out) const {
    out.clear();
    const BeamEntry& a = left(recipe);
    const std::size_t left_size = a.expression.tokens.size();
    if (!a.values.empty()) out.push_back({0, left_size - 1, a.values.data()});
    if (const BeamEntry* b = right(recipe, level); b && !b->values.empty())
        out.push_back({left_size, left_size + b->expression.tokens.size() - 1, b->values.data()});
}

}  // namespace kiv
