// LevelSearch: the level-wise beam search taken one step at a time, so that
// one process can run it whole (run_bfs) or several can share a level's
// evaluation (the companion package's cluster search).
//
// A level is three steps: expand() builds its candidates, deduplicated by
// fingerprint; evaluate() fits and scores any range of them; finish_level()
// offers them to the Pareto front, ranks them, cuts them to the beam width
// and returns the retained ones as an EvaluatedBatch. A search that only
// evaluates (a cluster worker) takes each level's retained candidates from
// the one that finishes it with adopt_level(), and receives the evaluations
// made elsewhere with absorb(). Because expansion and evaluation are pure
// functions of the retained levels, every copy of a search that saw the same
// batches holds the same candidates and computes the same bits.
//
// Call each search from one thread at a time; its parallel steps run on the
// search's own worker pool.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "config.hpp"
#include "core/dataset.hpp"
#include "engine/beam.hpp"
#include "engine/constant_refiner.hpp"
#include "engine/evaluated_batch.hpp"
#include "engine/expansion.hpp"
#include "engine/parallel.hpp"
#include "engine/pareto_front.hpp"
#include "engine/progress.hpp"
#include "engine/retention.hpp"
#include "engine/scoring.hpp"
#include "engine/search_hooks.hpp"
#include "engine/seen_set.hpp"
#include "result.hpp"
#include "search_error.hpp"

namespace kiv {

class LevelSearch {
public:
    // Seeds level 1 and prints the banner unless level 1 already fits well enough.
    LevelSearch(const std::vector<std::vector<double>>& rows, std::vector<double> targets, const SearchConfig& config,
                SearchHooks hooks);

    // No further level runs: the last level was max_complexity, or the front fits well enough.
    bool finished() const;
    // The highest level whose retained candidates are in the beam.
    std::size_t levels_retained() const { return levels_retained_; }
    // The front holds every candidate of levels 1 to this one.
    std::size_t levels_on_front() const { return levels_on_front_; }

    // Builds the candidates of level levels_retained() + 1; returns how many.
    // Throws SearchCancelled when the cancel hook asks to stop.
    std::size_t expand();
    // Evaluates candidates [begin, end) of the expanded level in parallel.
    void evaluate(std::size_t begin, std::size_t end);
    // The scored candidates among [begin, end) as evaluate left them.
    EvaluatedBatch evaluations(std::size_t begin, std::size_t end) const;
    // Takes over evaluations made by another copy of this search.
    void absorb(const EvaluatedBatch& batch);
    // Counts candidates evaluated elsewhere in the progress line.
    void count_evaluated(std::size_t count) { progress_.candidates_done(count); }
    // Offers the evaluated level to the front and keeps its best candidates;
    // returns them (in retained order) for the copies that only evaluate.
    EvaluatedBatch finish_level();
    // Retains the candidates another copy's finish_level() returned for the expanded level.
    void adopt_level(const EvaluatedBatch& retained);

    // The refitted front, as run_bfs returns it.
    Outcome<std::vector<SearchResult>> result() const;

private:
    // What the evaluation of one candidate left behind. A candidate whose
    // error is not finite is dropped (error stays +inf).
    struct Evaluation {
        double error = std::numeric_limits<double>::infinity();
        double score = 0.0;
        // Its refined constants, in the level's pool, when they did strictly
        // better than its operands' constants; else empty.
        std::span<const double> refined;
    };

    // Per-worker scratch for candidate evaluation, reused across candidates.
    struct Workspace {
        std::vector<Token> tokens;
        std::vector<KnownValues> known;
        PreparedExpression expression;
        BlockEvaluator evaluator;
        ConstantRefiner refiner;
    };

    bool fits_well_enough() const;
    void seed_level_one();
    bool is_new(const Expression& expression);
    std::size_t n_params(const Recipe& recipe) const;
    std::span<double> slot(std::size_t i);
    Evaluation evaluate_one(const Recipe& recipe, std::span<double> slot, Workspace& ws) const;
    double score_of(double error) const;
    void offer_to_front();
    std::vector<ScoredCandidate> scored() const;
    std::size_t count_scored() const;
    void retain_level(const std::vector<std::size_t>& kept);
    // Frees the candidates of the level just retained.
    void release_level();
    Expression materialize(std::size_t i) const;

    const SearchConfig config_;
    const SearchHooks hooks_;
    RegistryHandle registry_;
    Dataset data_;
    const std::vector<double> targets_;
    const double error_scale_;
    const Penalty penalty_;
    SeenSet seen_;
    ParetoFront front_;
    Beam beam_;
    Progress progress_;
    // Read once: the workspaces below are one per worker of every loop.
    const WorkerPool workers_;
    Expander expander_;
    std::vector<Workspace> workspaces_;
    std::size_t levels_retained_ = 1;
    std::size_t levels_on_front_ = 1;
    std::chrono::steady_clock::time_point level_start_{};
    // The expanded level: its candidates, their evaluations and the pool of
    // refined constants, where candidate i owns [slot_start_[i], slot_start_[i + 1]).
    std::vector<Recipe> candidates_;
    std::vector<Evaluation> evaluations_;
    std::vector<std::size_t> slot_start_;
    std::vector<double> refined_pool_;
};

}  // namespace kiv
