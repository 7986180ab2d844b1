// Cancellation of a running search by its caller.
#pragma once

#include <exception>
#include <functional>

namespace kiv {

// Polled on the search's calling thread; returns true to stop the search.
using CancelCheck = std::function<bool()>;

// Thrown out of a search that its CancelCheck stopped. All working memory is
// released on the way out.
class SearchCancelled : public std::exception {
public:
    const char* what() const noexcept override { return "search cancelled"; }
};

}  // namespace kiv
