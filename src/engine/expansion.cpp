#include "engine/expansion.hpp"

#include <algorithm>
#include <limits>

#include "invariant.hpp"

namespace kiv {
namespace {

// Children buffered per chunk: large enough to keep all workers busy, small
// enough (8 MiB) that a level's generation never holds its duplicates.
constexpr std::size_t kChunkSlots = std::size_t{1} << 18;

// Fingerprint of op applied to operands with the given sample values, or
// nothing. Operand values are those of retained expressions, which are
// either all acceptable or flagged by samples_defined.
std::optional<FingerprintKey> child_key(const Operator& op, const SampleValues& a, const SampleValues* b) {
    const Complex* args[2] = {a.data(), b ? b->data() : nullptr};
    SampleValues values;
    op.eval_block(args, values.data(), kSampleCount);
    const auto fp = quantize(values);
    if (!fp) return std::nullopt;
    return digest(*fp);
}

std::uint32_t narrow(std::size_t value) {
    if (value > std::numeric_limits<std::uint32_t>::max())
        throw InvariantViolation("candidate index beyond 32 bits in src/engine/expansion");
    return static_cast<std::uint32_t>(value);
}

}  // namespace

Expander::Expander(const OperatorRegistry& registry, const OperatorSet& operators, SeenSet& seen, WorkerPool workers)
    : registry_(registry),
      seen_(seen),
      workers_(workers),
      unary_ids_(operators.ids(registry, 1)),
      binary_ids_(operators.ids(registry, 2)) {}

std::vector<Recipe> Expander::expand(std::size_t level, const Beam& beam, const CancelCheck& cancel) {
    std::vector<Recipe> out;
    generated_ = 0;
    const auto& parents = beam.bucket(level - 1);
    run_pass(
        parents.size(), unary_ids_.size(),
        [&](std::uint32_t p, Child* slots) { return unary_children(beam, level, p, slots); }, out, cancel);
    for (std::size_t i = 1; i + 2 <= level; ++i) {
        const std::size_t j = level - 1 - i;
        run_pass(
            beam.bucket(i).size(), beam.bucket(j).size() * binary_ids_.size(),
            [&](std::uint32_t p, Child* slots) { return binary_children(beam, i, j, p, slots); }, out, cancel);
    }
    return out;
}

template <class Generate>
void Expander::run_pass(std::size_t parents, std::size_t per_parent, Generate&& generate, std::vector<Recipe>& out,
                        const CancelCheck& cancel) {
    if (parents == 0 || per_parent == 0) return;
    const std::size_t chunk = std::max<std::size_t>(1, kChunkSlots / per_parent);
    for (std::size_t first = 0; first < parents; first += chunk) {
        const std::size_t count = std::min(chunk, parents - first);
        slots_.resize(count * per_parent);
        yields_.assign(count, Yield{});
        workers_.parallel_for(
            count, [&](std::size_t i) { yields_[i] = generate(narrow(first + i), slots_.data() + i * per_parent); },
            cancel);
        keys_.clear();
        recipes_.clear();
        for (std::size_t i = 0; i < count; ++i) {
            generated_ += yields_[i].built;
            for (std::size_t t = 0; t < yields_[i].defined; ++t) {
                keys_.push_back(slots_[i * per_parent + t].key);
                recipes_.push_back(slots_[i * per_parent + t].recipe);
            }
        }
        is_new_.resize(keys_.size());
        seen_.insert_batch(keys_, is_new_, workers_);
        for (std::size_t t = 0; t < recipes_.size(); ++t)
            if (is_new_[t]) out.push_back(recipes_[t]);
    }
}

Expander::Yield Expander::unary_children(const Beam& beam, std::size_t level, std::uint32_t parent,
                                         Child* slots) const {
    const BeamEntry& entry = beam.bucket(level - 1)[parent];
    Yield yield{unary_ids_.size(), 0};
    if (!entry.samples_defined) return yield;
    for (const std::size_t id : unary_ids_)
        if (const auto key = child_key(registry_.op(id), entry.samples, nullptr))
            slots[yield.defined++] = {{narrow(id), narrow(level - 1), parent, 0}, *key};
    return yield;
}

Expander::Yield Expander::binary_children(const Beam& beam, std::size_t left_level, std::size_t right_level,
                                          std::uint32_t parent, Child* slots) const {
    const BeamEntry& a = beam.bucket(left_level)[parent];
    const auto& rights = beam.bucket(right_level);
    Yield yield;
    if (!a.samples_defined) return yield;
    for (std::size_t r = 0; r < rights.size(); ++r) {
        const BeamEntry& b = rights[r];
        // Param indices are 8-bit: a pair with more constants has no representation.
        if (!b.samples_defined || a.expression.n_params + b.expression.n_params > kMaxParams) continue;
        const bool formulas_ordered = a.expression.formula <= b.expression.formula;
        for (const std::size_t id : binary_ids_) {
            if (left_level == right_level && registry_.meta(id).commutative && !formulas_ordered) continue;
            ++yield.built;
            if (const auto key = child_key(registry_.op(id), a.samples, &b.samples))
                slots[yield.defined++] = {{narrow(id), narrow(left_level), parent, narrow(r)}, *key};
        }
    }
    return yield;
}

}  // namespace kiv
