#include "bindings/shared/result_state.hpp"

#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "bindings/shared/py_error.hpp"
#include "core/expression.hpp"
#include "invariant.hpp"

namespace kiv::python {
namespace {

constexpr int kStateVersion = 1;

// Raises `type` with a PyUnicode_FromFormat message and throws. The formats
// below insert names with %U, never %R, so that no Python code runs while a
// state is read.
template <class... Args>
[[noreturn]] void refuse(PyObject* type, const char* format, Args... args) {
    PyErr_Clear();
    PyErr_Format(type, format, args...);
    throw PyErrAlreadySet{};
}

const char* type_name(PyObject* object) { return Py_TYPE(object)->tp_name; }

// bool is an int subclass, but True is no column and no version.
bool is_int(PyObject* object) { return PyLong_Check(object) && !PyBool_Check(object); }

PyRef token_state(const Token& token, const OperatorRegistry& registry) {
    switch (token.kind) {
        case TokenKind::Var:
            return require(PyRef::steal(Py_BuildValue("(si)", "var", static_cast<int>(token.index))));
        case TokenKind::Param:
            return require(PyRef::steal(Py_BuildValue("(sdd)", "param", token.value.re, token.value.im)));
        case TokenKind::Real:
            return require(PyRef::steal(Py_BuildValue("(sd)", "real", token.value.re)));
        case TokenKind::Const:
            return require(PyRef::steal(Py_BuildValue("(ss)", "const", registry.meta(token.op_id).name.c_str())));
        case TokenKind::Op:
            return require(PyRef::steal(Py_BuildValue("(ss)", "op", registry.meta(token.op_id).name.c_str())));
    }
    throw InvariantViolation("a token of unknown kind in result_state");
}

// Reads the tokens of a state one by one into a stack of expressions built
// by the engine's composition, refusing each malformed token as it comes.
// The state's tuples are immutable and reading them runs no Python code, so
// the borrowed items stay valid throughout.
class FormulaReader {
public:
    explicit FormulaReader(const OperatorRegistry& registry) : registry_(registry) {}

    void read(Py_ssize_t position, PyObject* token) {
        position_ = position;
        token_ = token;
        if (!PyTuple_Check(token))
            refuse(PyExc_TypeError, "SearchResult state: token %zd must be a tuple, not %s", position,
                   type_name(token));
        if (PyTuple_GET_SIZE(token) == 0) refuse(PyExc_ValueError, "SearchResult state: token %zd is empty", position);
        PyObject* kind = item(0);
        if (!PyUnicode_Check(kind))
            refuse(PyExc_TypeError, "SearchResult state: token %zd must start with its kind as a str, not %s", position,
                   type_name(kind));
        if (PyUnicode_CompareWithASCIIString(kind, "var") == 0)
            push_variable();
        else if (PyUnicode_CompareWithASCIIString(kind, "param") == 0)
            push_parameter();
        else if (PyUnicode_CompareWithASCIIString(kind, "real") == 0)
            push_real();
        else if (PyUnicode_CompareWithASCIIString(kind, "const") == 0)
            push_constant();
        else if (PyUnicode_CompareWithASCIIString(kind, "op") == 0)
            push_operation();
        else
            refuse(PyExc_ValueError,
                   "SearchResult state: token %zd is of the unknown kind '%U' (not var, param, real, const or op)",
                   position, kind);
    }

    // The one formula the tokens form, its params set to the state's values.
    Expression finish() && {
        if (stack_.empty()) refuse(PyExc_ValueError, "SearchResult state: the tokens form no formula");
        if (stack_.size() > 1)
            refuse(PyExc_ValueError, "SearchResult state: the tokens leave %zu values, not one formula", stack_.size());
        Expression expression = std::move(stack_.back());
        // Composition numbered the params in order of appearance, as the state does.
        for (Token& token : expression.tokens)
            if (token.kind == TokenKind::Param) token.value = params_[token.index];
        return expression;
    }

private:
    PyObject* item(Py_ssize_t index) const { return PyTuple_GET_ITEM(token_, index); }

    void expect_items(const char* kind, Py_ssize_t count) const {
        if (PyTuple_GET_SIZE(token_) != count)
            refuse(PyExc_ValueError, "SearchResult state: token %zd (%s) has %zd items instead of %zd", position_, kind,
                   PyTuple_GET_SIZE(token_), count);
    }

    double float_item(Py_ssize_t index, const char* what) const {
        PyObject* value = item(index);
        if (!PyFloat_Check(value))
            refuse(PyExc_TypeError, "SearchResult state: the %s of token %zd must be a float, not %s", what, position_,
                   type_name(value));
        return PyFloat_AS_DOUBLE(value);
    }

    void push_variable() {
        expect_items("var", 2);
        PyObject* column = item(1);
        if (!is_int(column))
            refuse(PyExc_TypeError, "SearchResult state: the column of token %zd must be an int, not %s", position_,
                   type_name(column));
        int overflow = 0;
        const long long value = PyLong_AsLongLongAndOverflow(column, &overflow);
        if (overflow != 0 || value < 0 || static_cast<unsigned long long>(value) >= kMaxVariables)
            refuse(PyExc_ValueError,
                   "SearchResult state: token %zd reads a column outside 0 to %zu, the columns a formula can hold",
                   position_, kMaxVariables - 1);
        stack_.push_back(variable_leaf(static_cast<std::uint8_t>(value)));
    }

    void push_parameter() {
        expect_items("param", 3);
        const Complex value{float_item(1, "real part"), float_item(2, "imaginary part")};
        if (params_.size() == kMaxParams)
            refuse(PyExc_ValueError, "SearchResult state: token %zd is a parameter beyond the %zu a formula holds",
                   position_, kMaxParams);
        params_.push_back(value);
        stack_.push_back(parameter_leaf());
    }

    void push_real() {
        expect_items("real", 2);
        stack_.push_back(real_leaf(float_item(1, "value")));
    }

    void push_constant() {
        const std::size_t id = named_id("const");
        if (registry_.meta(id).arity != 0)
            refuse(PyExc_ValueError, "SearchResult state: token %zd names the operator '%U' as a constant", position_,
                   item(1));
        stack_.push_back(constant_leaf(id, registry_));
    }

    // Builtin operators take one or two operands.
    void push_operation() {
        const std::size_t id = named_id("op");
        const std::size_t arity = registry_.meta(id).arity;
        if (arity == 0)
            refuse(PyExc_ValueError, "SearchResult state: token %zd names the constant '%U' as an operator", position_,
                   item(1));
        if (stack_.size() < arity)
            refuse(PyExc_ValueError,
                   "SearchResult state: token %zd applies '%U', which takes %zu operands, where the tokens before it "
                   "leave %zu",
                   position_, item(1), arity, stack_.size());
        const std::size_t first = stack_.size() - arity;
        Expression result = arity == 1 ? apply_unary(id, stack_[first], registry_)
                                       : apply_binary(id, stack_[first], stack_[first + 1], registry_);
        stack_.resize(first);
        stack_.push_back(std::move(result));
    }

    // The registry id that the token's name item names.
    std::size_t named_id(const char* kind) const {
        expect_items(kind, 2);
        PyObject* name = item(1);
        if (!PyUnicode_Check(name))
            refuse(PyExc_TypeError, "SearchResult state: the name in token %zd must be a str, not %s", position_,
                   type_name(name));
        Py_ssize_t length = 0;
        const char* text = PyUnicode_AsUTF8AndSize(name, &length);
        require(text != nullptr);
        if (const auto id = registry_.find(std::string_view(text, static_cast<std::size_t>(length)))) return *id;
        refuse(PyExc_ValueError,
               "SearchResult state: token %zd names '%U', which is neither an operator nor a constant", position_,
               name);
    }

    const OperatorRegistry& registry_;
    std::vector<Expression> stack_;
    std::vector<Complex> params_;
    Py_ssize_t position_ = 0;
    PyObject* token_ = nullptr;  // borrowed from the state
};

void check_version(PyObject* version) {
    if (!is_int(version))
        refuse(PyExc_TypeError, "SearchResult state: the version must be an int, not %s", type_name(version));
    int overflow = 0;
    if (PyLong_AsLongLongAndOverflow(version, &overflow) != kStateVersion || overflow != 0)
        refuse(PyExc_ValueError, "SearchResult state: unknown version; this kiv_sr reads version %d", kStateVersion);
}

}  // namespace

PyRef tokens_state(const Expression& expression, const OperatorRegistry& registry) {
    const std::vector<Token>& tokens = expression.tokens;
    PyRef token_states = require(PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(tokens.size()))));
    for (std::size_t i = 0; i < tokens.size(); ++i)
        PyTuple_SET_ITEM(token_states.get(), static_cast<Py_ssize_t>(i),
                         token_state(tokens[i], registry).release());  // steals the item
    return token_states;
}

Expression expression_from_tokens(PyObject* tokens, const OperatorRegistry& registry) {
    if (!PyTuple_Check(tokens))
        refuse(PyExc_TypeError, "SearchResult state: the tokens must be a tuple, not %s", type_name(tokens));
    FormulaReader reader(registry);
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(tokens); ++i) reader.read(i, PyTuple_GET_ITEM(tokens, i));
    return std::move(reader).finish();
}

PyRef state_of(const SearchResult& record) {
    const PyRef tokens = tokens_state(record.expression, *record.registry);
    return require(PyRef::steal(Py_BuildValue("(idO)", kStateVersion, record.error, tokens.get())));
}

SearchResult result_from_state(PyObject* state) {
    if (!PyTuple_Check(state))
        refuse(PyExc_TypeError, "SearchResult state: expected a tuple (version, error, tokens), not %s",
               type_name(state));
    if (PyTuple_GET_SIZE(state) != 3)
        refuse(PyExc_ValueError, "SearchResult state: expected 3 items (version, error, tokens), not %zd",
               PyTuple_GET_SIZE(state));
    check_version(PyTuple_GET_ITEM(state, 0));
    PyObject* error = PyTuple_GET_ITEM(state, 1);
    if (!PyFloat_Check(error))
        refuse(PyExc_TypeError, "SearchResult state: the error must be a float, not %s", type_name(error));
    RegistryHandle registry = std::make_shared<const OperatorRegistry>(with_builtins());
    Expression expression = expression_from_tokens(PyTuple_GET_ITEM(state, 2), *registry);
    return {std::move(expression), std::move(registry), PyFloat_AS_DOUBLE(error)};
}

}  // namespace kiv::python
