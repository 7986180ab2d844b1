// Times each builtin operator's block evaluation and prints nanoseconds per
// row, the best of many repetitions: the least a row costs, which another
// job on the core can only raise. A search spends most of its time in these
// calls, but its wall-clock and CPU times vary too much under load to show
// a change of a few percent in one operator; this shows it.
//
// Rows: blocks of 64, parts uniform in [-3, 3], two thirds of them on the
// real axis as inputs from real data are, seeded.
//
// Usage: operator_benchmark [repetitions]   (default 200)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "core/block_evaluator.hpp"
#include "ops/registry.hpp"

namespace {

constexpr std::size_t kRows = kiv::BlockEvaluator::kBlockRows;
constexpr std::size_t kBlocks = 64;

std::vector<kiv::Complex> operand_rows(std::mt19937_64& rng) {
    std::uniform_real_distribution<double> uniform(-3.0, 3.0);
    std::vector<kiv::Complex> rows(kRows * kBlocks);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const double re = uniform(rng);
        const double im = uniform(rng);
        rows[r] = {re, r % 3 == 0 ? im : 0.0};
    }
    return rows;
}

// Nanoseconds per row of one pass over all blocks, the least of `repetitions` passes.
double best_ns_per_row(const kiv::Operator& op, const std::vector<kiv::Complex>& first,
                       const std::vector<kiv::Complex>& second, int repetitions) {
    std::vector<kiv::Complex> out(kRows);
    double best = 1e300;
    for (int repetition = 0; repetition < repetitions; ++repetition) {
        const auto start = std::chrono::steady_clock::now();
        for (std::size_t block = 0; block < kBlocks; ++block) {
            const kiv::Complex* args[] = {first.data() + block * kRows, second.data() + block * kRows};
            op.eval_block(args, out.data(), kRows);
        }
        const std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count() / static_cast<double>(kRows * kBlocks));
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::atoi(argv[1]) : 200;
    std::printf("# compiler: GCC %s, flags: %s\n", __VERSION__, KIV_BUILD_FLAGS);
    std::printf("# best of %d passes over %zu blocks of %zu rows\n", repetitions, kBlocks, kRows);
    std::mt19937_64 rng(20261207);
    const std::vector<kiv::Complex> first = operand_rows(rng);
    const std::vector<kiv::Complex> second = operand_rows(rng);
    const kiv::OperatorRegistry registry = kiv::with_builtins();
    std::printf("%-10s %10s\n", "operator", "ns/row");
    double total = 0.0;
    for (const std::size_t arity : {1, 2})
        for (const std::size_t id : registry.ids_by_arity(static_cast<std::uint8_t>(arity))) {
            const double ns = best_ns_per_row(registry.op(id), first, second, repetitions);
            total += ns;
            std::printf("%-10s %10.2f\n", std::string(registry.meta(id).name).c_str(), ns);
        }
    std::printf("%-10s %10.2f\n", "sum", total);
}
