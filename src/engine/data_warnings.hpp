// data_warnings: what the caller is told before a search about data that
// hold NaN or infinite values. Such values are legal: an input that is not
// finite makes the formulas reading its column fail on its row, and a
// target that is not finite makes every error non-finite. Both are silent
// in the search itself, so the caller gets one sentence for each.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kiv {

// Receives each warning text; called on the caller's thread before the search.
using WarningSink = std::function<void(const std::string&)>;

// One text for the inputs and one for the targets, each only when they hold
// a value that is NaN or infinite. For data the search accepted (a target
// per row).
std::vector<std::string> data_warnings(const std::vector<std::vector<double>>& rows,
                                       const std::vector<double>& targets);

}  // namespace kiv
