// SearchError: why a whole search failed. The engine and the facade return
// it up the stack inside an Outcome; the Python layer throws it only to
// reach its one error boundary, which turns it into the module's exception
// classes.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace kiv {

class SearchError {
public:
    enum class Kind { NoFormulaFound, InvalidInput };

    static SearchError no_formula_found(std::uint64_t complexity) { return SearchError(complexity); }
    static SearchError invalid_input(std::string message) { return SearchError(std::move(message)); }

    Kind kind() const {
        return std::holds_alternative<std::uint64_t>(payload_) ? Kind::NoFormulaFound : Kind::InvalidInput;
    }

    std::string message() const {
        if (const auto* complexity = std::get_if<std::uint64_t>(&payload_))
            return "No formula found up to complexity " + std::to_string(*complexity);
        return std::get<std::string>(payload_);
    }

private:
    explicit SearchError(std::uint64_t complexity) : payload_(complexity) {}
    explicit SearchError(std::string message) : payload_(std::move(message)) {}

    std::variant<std::uint64_t, std::string> payload_;
};

// A value or the SearchError that prevented it.
template <class T>
using Outcome = std::variant<T, SearchError>;

}  // namespace kiv
