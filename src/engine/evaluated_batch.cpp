#include "engine/evaluated_batch.hpp"

#include <cstring>

#include "invariant.hpp"

namespace kiv {
namespace {

template <class T>
void append_array(std::string& out, const std::vector<T>& values) {
    const std::uint64_t count = values.size();
    out.append(reinterpret_cast<const char*>(&count), sizeof count);
    if (!values.empty()) out.append(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(T));
}

template <class T>
std::vector<T> read_array(std::string_view& in) {
    std::uint64_t count = 0;
    if (in.size() < sizeof count) throw InvariantViolation("truncated EvaluatedBatch in src/engine/evaluated_batch");
    std::memcpy(&count, in.data(), sizeof count);
    in.remove_prefix(sizeof count);
    if (count > in.size() / sizeof(T))
        throw InvariantViolation("truncated EvaluatedBatch in src/engine/evaluated_batch");
    std::vector<T> values(count);
    // An empty vector's data() may be null, which memcpy must not get.
    if (count != 0) std::memcpy(values.data(), in.data(), count * sizeof(T));
    in.remove_prefix(count * sizeof(T));
    return values;
}

}  // namespace

void EvaluatedBatch::append(std::size_t index, double error, std::span<const double> constants) {
    indices.push_back(static_cast<std::uint32_t>(index));
    errors.push_back(error);
    refined_counts.push_back(static_cast<std::uint8_t>(constants.size()));
    refined.insert(refined.end(), constants.begin(), constants.end());
}

std::string EvaluatedBatch::to_bytes() const {
    std::string out;
    append_array(out, indices);
    append_array(out, errors);
    append_array(out, refined_counts);
    append_array(out, refined);
    return out;
}

EvaluatedBatch EvaluatedBatch::from_bytes(std::string_view bytes) {
    EvaluatedBatch batch;
    batch.indices = read_array<std::uint32_t>(bytes);
    batch.errors = read_array<double>(bytes);
    batch.refined_counts = read_array<std::uint8_t>(bytes);
    batch.refined = read_array<double>(bytes);
    std::size_t constants = 0;
    for (const std::uint8_t count : batch.refined_counts) constants += count;
    if (!bytes.empty() || batch.errors.size() != batch.size() || batch.refined_counts.size() != batch.size() ||
        constants != batch.refined.size())
        throw InvariantViolation("malformed EvaluatedBatch in src/engine/evaluated_batch");
    return batch;
}

}  // namespace kiv
