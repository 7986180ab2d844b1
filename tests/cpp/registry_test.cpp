#include <gtest/gtest.h>

#include "invariant.hpp"
#include "ops/builtin.hpp"
#include "ops/registry.hpp"
#include "test_util.hpp"

namespace kiv {
namespace {

TEST(Registry, BuiltinIdsNamesArityAndCommutativity) {
    struct Row {
        std::size_t id;
        const char* name;
        std::uint8_t arity;
        bool commutative;
    };
    const Row rows[] = {
        {0, "0", 0, false},        {1, "1", 0, false},       {2, "I", 0, false},
        {3, "Pi", 0, false},       {4, "E", 0, false},       {5, "KIV", 2, false},
        {6, "Neg", 1, false},      {7, "Inv", 1, false},     {8, "Plus", 2, true},
        {9, "Times", 2, true},     {10, "Subtract", 2, false}, {11, "Divide", 2, false},
        {12, "Exp", 1, false},     {13, "Log", 1, false},    {14, "Sqrt", 1, false},
        {15, "Sin", 1, false},     {16, "Cos", 1, false},    {17, "Tan", 1, false},
        {18, "ArcSin", 1, false},  {19, "ArcCos", 1, false}, {20, "ArcTan", 1, false},
        {21, "Square", 1, false},  {22, "Cube", 1, false},
    };
    const OperatorRegistry registry = with_builtins();
    ASSERT_EQ(registry.size(), 23u);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const OperatorMeta& meta = registry.meta(row.id);
        EXPECT_EQ(meta.name, row.name);
        EXPECT_EQ(meta.arity, row.arity);
        EXPECT_EQ(meta.commutative, row.commutative);
        EXPECT_EQ(registry.op(row.id).name(), row.name);
    }
}

TEST(Registry, IdsByArityListAscendingIds) {
    const OperatorRegistry registry = with_builtins();
    EXPECT_EQ(registry.ids_by_arity(0), (std::vector<std::size_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(registry.ids_by_arity(1),
              (std::vector<std::size_t>{6, 7, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22}));
    EXPECT_EQ(registry.ids_by_arity(2), (std::vector<std::size_t>{5, 8, 9, 10, 11}));
    EXPECT_TRUE(registry.ids_by_arity(3).empty());
}

TEST(Registry, UnknownIdIsAnInvariantViolation) {
    const OperatorRegistry registry = with_builtins();
    EXPECT_THROW_MSG(registry.op(23), InvariantViolation, "src/ops/registry");
    EXPECT_THROW_MSG(registry.meta(23), InvariantViolation, "src/ops/registry");
    EXPECT_NO_THROW(registry.op(22));
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

TEST(Registry, RegistrationKeepsTheLowArityBitsAndAcceptsDuplicateNames) {
    OperatorRegistry registry;
    registry.register_operator(std::make_unique<WideOperator>());
    EXPECT_EQ(registry.meta(0).arity, 2);
    EXPECT_EQ(registry.meta(0).name, "Plus");
    EXPECT_FALSE(registry.meta(0).commutative);
    EXPECT_EQ(registry.ids_by_arity(2), (std::vector<std::size_t>{0}));
}

TEST(Registry, RegisteringExtendsIdsAndArityLists) {
    OperatorRegistry registry = with_builtins();
    registry.register_operator(std::make_unique<ConstOp>("Two", "2", "2", Complex{2.0, 0.0}));
    EXPECT_EQ(registry.meta(23).name, "Two");
    EXPECT_EQ(registry.ids_by_arity(0).back(), 23u);
}

TEST(Registry, DebugTextNamesTheTypeOrTheConstantRecord) {
    const OperatorRegistry registry = with_builtins();
    EXPECT_EQ(registry.op(5).debug_text(), "Kiv");
    EXPECT_EQ(registry.op(10).debug_text(), "Subtract");
    EXPECT_EQ(registry.op(2).debug_text(),
              "ConstOp { name: \"I\", latex: \"i\", python: \"1j\", value: Complex { re: 0, im: 1 } }");
}

}  // namespace
}  // namespace kiv
