#include "ops/registry.hpp"

#include <gtest/gtest.h>

#include "invariant.hpp"
#include "ops/builtin.hpp"
#include "test_util.hpp"

namespace kiv {
namespace {

TEST(Registry, BuiltinIdsNamesArityAndCommutativity) {
    struct Row {
        const char* name;
        std::uint8_t arity;
        bool commutative;
    };
    const Row rows[] = {
        {"0", 0, false},      {"1", 0, false},      {"I", 0, false},        {"Pi", 0, false},
        {"E", 0, false},      {"KIV", 2, false},    {"Neg", 1, false},      {"Inv", 1, false},
        {"Plus", 2, true},    {"Times", 2, true},   {"Subtract", 2, false}, {"Divide", 2, false},
        {"Exp", 1, false},    {"Log", 1, false},    {"Sqrt", 1, false},     {"Sin", 1, false},
        {"Cos", 1, false},    {"Tan", 1, false},    {"ArcSin", 1, false},   {"ArcCos", 1, false},
        {"ArcTan", 1, false}, {"Square", 1, false}, {"Cube", 1, false},
    };
    ASSERT_EQ(builtins().size(), std::size(rows));
    for (std::size_t id = 0; id < std::size(rows); ++id) {
        SCOPED_TRACE(rows[id].name);
        const OperatorMeta& meta = builtins().meta(id);
        EXPECT_EQ(meta.name, rows[id].name);
        EXPECT_EQ(meta.arity, rows[id].arity);
        EXPECT_EQ(meta.commutative, rows[id].commutative);
        EXPECT_EQ(builtins().op(id).name(), rows[id].name);
    }
    EXPECT_EQ(builtins().ids_by_arity(0), (std::vector<std::size_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(builtins().ids_by_arity(1), (std::vector<std::size_t>{6, 7, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22}));
    EXPECT_EQ(builtins().ids_by_arity(2), (std::vector<std::size_t>{5, 8, 9, 10, 11}));
    EXPECT_TRUE(builtins().ids_by_arity(3).empty());
    EXPECT_EQ(builtins().op(kKiv).debug_text(), "Kiv");
    EXPECT_EQ(builtins().op(kI).debug_text(),
              "ConstOp { name: \"I\", latex: \"i\", python: \"1j\", value: Complex { re: 0, im: 1 } }");
}

// Reports an arity that does not fit in the meta's 8 bits.
class WideOperator final : public Operator {
public:
    std::string_view name() const override { return "Plus"; }
    unsigned arity() const override { return 258; }
    std::optional<Complex> eval(std::span<const Complex>) const override { return Complex{}; }
    std::string to_latex(std::span<const std::string>) const override { return ""; }
    std::string to_python(std::span<const std::string>) const override { return ""; }
    std::string debug_text() const override { return "WideOperator"; }
};

TEST(Registry, UnknownIdsFailAndRegistrationAddsIdsWithLowArityBitsAndAnyName) {
    EXPECT_THROW_MSG(builtins().op(23), InvariantViolation, "src/ops/registry");
    EXPECT_THROW_MSG(builtins().meta(23), InvariantViolation, "src/ops/registry");
    OperatorRegistry registry = with_builtins();
    registry.register_operator(std::make_unique<WideOperator>());
    registry.register_operator(std::make_unique<ConstOp>("Two", "2", "2", Complex{2.0, 0.0}));
    EXPECT_EQ(registry.meta(23).arity, 2);
    EXPECT_EQ(registry.meta(23).name, "Plus");
    EXPECT_FALSE(registry.meta(23).commutative);
    EXPECT_EQ(registry.ids_by_arity(2).back(), 23u);
    EXPECT_EQ(registry.meta(24).name, "Two");
    EXPECT_EQ(registry.ids_by_arity(0).back(), 24u);
}

}  // namespace
}  // namespace kiv
