#include "engine/bfs.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <span>

#include "core/dataset.hpp"
#include "engine/beam.hpp"
#include "engine/constant_refiner.hpp"
#include "engine/expansion.hpp"
#include "engine/finalize_result.hpp"
#include "engine/parallel.hpp"
#include "engine/pareto_front.hpp"
#include "engine/progress.hpp"
#include "engine/retention.hpp"
#include "engine/scoring.hpp"
#include "engine/seen_set.hpp"
#include "invariant.hpp"

namespace kiv {
namespace {

constexpr std::size_t kCandidateRefinementIterations = 10;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// "<setting> must be <range>; got <value>." for a setting that would make
// every error meaningless.
SearchError setting_refused(const char* setting, const char* range, double value) {
    char text[160];
    std::snprintf(text, sizeof text, "%s must be %s; got %g.", setting, range, value);
    return SearchError::invalid_input(text);
}

// What the evaluation of one candidate left behind. A candidate whose error
// is not finite is dropped (error stays +inf).
struct Evaluation {
    double error = kInfinity;
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

class Search {
public:
    Search(const std::vector<std::vector<double>>& rows, const std::vector<double>& targets, const SearchConfig& config,
           const SearchHooks& hooks)
        : config_(config),
          cancel_(hooks.cancel),
          stats_(hooks.stats),
          registry_(std::make_shared<const OperatorRegistry>(with_builtins())),
          data_(Dataset::from_rows(rows)),
          targets_(targets),
          error_scale_(error_scale(targets)),
          penalty_{config.alpha, config.l1_ratio},
          progress_(hooks.progress_output()),
          expander_(*registry_, seen_, workers_),
          workspaces_(workers_.size(),
                      Workspace{{}, {}, {}, {}, ConstantRefiner(kCandidateRefinementIterations, error_scale_)}) {}

    Outcome<std::vector<SearchResult>> run() {
        run_levels();
        return finalize_result(front_, registry_, config_, data_, targets_);
    }

    // As run, but a cancelled search returns the front of the levels that
    // reached it instead of throwing.
    Outcome<PartialFront> run_until_stopped() {
        bool stopped = false;
        try {
            run_levels();
        } catch (const SearchCancelled&) {
            stopped = true;
        }
        auto outcome = finalize_result(front_, registry_, config_, data_, targets_);
        if (auto* error = std::get_if<SearchError>(&outcome)) return std::move(*error);
        return PartialFront{std::get<std::vector<SearchResult>>(std::move(outcome)), levels_on_front_, stopped};
    }

private:
    void run_levels() {
        seed_level_one();
        if (fits_well_enough()) return;
        progress_.banner(beam_.bucket(1).size());
        if (config_.max_complexity < 2) return;
        const std::size_t elites = elite_count(config_.beam_width);
        for (std::uint64_t level = 2;; ++level) {
            run_level(level, elites);
            if (level == config_.max_complexity || fits_well_enough()) break;
        }
    }

    // The early exit, its threshold on the targets' error scale.
    bool fits_well_enough() const {
        return front_.check_early_exit(config_.early_exit_error * error_scale_, config_.exhaustive);
    }

    // Level 1: the free constant, then one variable per input column. Not
    // refined, scored or cut; a variable stays even when its error is infinite.
    void seed_level_one() {
        std::vector<Expression> leaves{parameter_leaf()};
        for (std::size_t column = 0; column < data_.columns.size(); ++column)
            leaves.push_back(variable_leaf(static_cast<std::uint8_t>(column)));
        std::vector<BeamEntry> entries;
        Workspace& ws = workspaces_.front();  // no worker runs yet
        for (const Expression& leaf : leaves) {
            if (!is_new(leaf)) continue;
            ws.expression.prepare(leaf.tokens, data_, *registry_);
            const double error = compute_raw_error({ws.expression, targets_, penalty_}, ws.evaluator);
            if (std::isfinite(error)) front_.update(error, leaf);
            entries.push_back(BeamEntry::make(leaf, *registry_, data_));
        }
        beam_.add_level({});
        beam_.add_level(std::move(entries));
    }

    bool is_new(const Expression& expression) {
        const auto fp = fingerprint(expression, *registry_);
        return fp && seen_.insert(digest(*fp));
    }

    void run_level(std::size_t level, std::size_t elites) {
        const auto start = std::chrono::steady_clock::now();
        // A level without candidates runs no parallel step, which is where
        // cancellation is otherwise polled.
        if (cancel_ && cancel_()) throw SearchCancelled();
        const std::vector<Recipe> candidates = expander_.expand(level, beam_, cancel_);
        progress_.start_level(level, candidates.size());
        const std::vector<Evaluation> evaluations = evaluate(level, candidates);
        progress_.level_evaluated();
        offer_to_front(level, candidates, evaluations);
        levels_on_front_ = level;
        std::vector<ScoredCandidate> ranked = scored(evaluations);
        rank(ranked);
        const auto kept = retain(std::move(ranked), config_.beam_width, elites,
                                 [&](std::size_t i) { return beam_.op_key(candidates[i], level); });
        beam_.add_level(retained_entries(level, candidates, evaluations, kept));
        const auto elapsed = std::chrono::steady_clock::now() - start;
        progress_.level_summary(level, elapsed, beam_.bucket(level).size());
        if (stats_)
            stats_->push_back({level, expander_.generated(), candidates.size(), count_scored(evaluations),
                               beam_.bucket(level).size(), std::chrono::duration<double>(elapsed).count()});
        refined_pool_.clear();
        refined_pool_.shrink_to_fit();
    }

    // Candidate i may keep its refined constants in its own slot of the
    // level's pool, so workers never write the same slot.
    std::vector<Evaluation> evaluate(std::size_t level, const std::vector<Recipe>& candidates) {
        std::vector<std::size_t> slot_start(candidates.size() + 1, 0);
        for (std::size_t i = 0; i < candidates.size(); ++i)
            slot_start[i + 1] = slot_start[i] + n_params(level, candidates[i]);
        refined_pool_.assign(slot_start.back(), 0.0);
        std::vector<Evaluation> evaluations(candidates.size());
        workers_.parallel_for(
            candidates.size(),
            [&](std::size_t i) {
                progress_.candidate_started();
                check_index(current_worker(), workspaces_.size(), "src/engine/bfs");
                const std::span<double> slot(refined_pool_.data() + slot_start[i], slot_start[i + 1] - slot_start[i]);
                evaluations[i] = evaluate_one(level, candidates[i], slot, workspaces_[current_worker()]);
            },
            cancel_);
        return evaluations;
    }

    std::size_t n_params(std::size_t level, const Recipe& recipe) const {
        const BeamEntry* right = beam_.right(recipe, level);
        return beam_.left(recipe).expression.n_params + (right ? right->expression.n_params : 0);
    }

    // Error with the operands' constants, then the refined constants if they
    // do strictly better, kept in `slot`; the score inflates the error by
    // complexity.
    //
    // For the expressions the search builds (an operator at the root, no Real
    // tokens, constants on the real axis) the refinement's starting error is
    // exactly the raw error, so it is not computed twice.
    Evaluation evaluate_one(std::size_t level, const Recipe& recipe, std::span<double> slot, Workspace& ws) const {
        beam_.write_tokens(recipe, level, ws.tokens);
        beam_.known_operands(recipe, level, ws.known);
        ws.expression.prepare(ws.tokens, data_, *registry_, ws.known);
        const Objective objective{ws.expression, targets_, penalty_};
        Evaluation result;
        double error = 0.0;
        if (config_.optimize_constants && !ws.expression.param_positions().empty()) {
            const Refinement refined = ws.refiner.refine(objective, ws.evaluator);
            error = refined.starting_error;
            if (refined.error < error) {
                error = refined.error;
                if (refined.constants.size() != slot.size())
                    throw InvariantViolation("refined constants do not fit their slot in src/engine/bfs");
                std::copy(refined.constants.begin(), refined.constants.end(), slot.begin());
                result.refined = slot;
            }
        } else {
            error = compute_raw_error(objective, ws.evaluator);
        }
        if (!std::isfinite(error)) return Evaluation{};
        result.error = error;
        result.score = error * (config_.complexity_penalty * static_cast<double>(level) + 1.0);
        return result;
    }

    // Each entry evaluates its values on all rows, so they are built in parallel.
    std::vector<BeamEntry> retained_entries(std::size_t level, const std::vector<Recipe>& candidates,
                                            const std::vector<Evaluation>& evaluations,
                                            const std::vector<ScoredCandidate>& kept) const {
        std::vector<BeamEntry> entries(kept.size());
        workers_.parallel_for(
            kept.size(),
            [&](std::size_t i) {
                entries[i] =
                    BeamEntry::make(materialize(level, candidates, evaluations, kept[i].index), *registry_, data_);
            },
            cancel_);
        return entries;
    }

    static std::size_t count_scored(const std::vector<Evaluation>& evaluations) {
        std::size_t count = 0;
        for (const Evaluation& e : evaluations) count += std::isfinite(e.error) ? 1 : 0;
        return count;
    }

    // The front sees each candidate's score divided back by its complexity
    // factor; a quotient that is not finite (a zero or infinite factor) is
    // not offered, so the front holds finite errors only.
    void offer_to_front(std::size_t level, const std::vector<Recipe>& candidates,
                        const std::vector<Evaluation>& evaluations) {
        const double factor = config_.complexity_penalty * static_cast<double>(level) + 1.0;
        for (std::size_t i = 0; i < candidates.size(); ++i) {
            if (!std::isfinite(evaluations[i].error)) continue;
            const double error = evaluations[i].score / factor;
            if (std::isfinite(error) && front_.would_accept(level, error))
                front_.update(error, materialize(level, candidates, evaluations, i));
        }
    }

    // Evaluated candidates in candidate order. A NaN score (a NaN or
    // infinite complexity penalty) cannot be ranked, so it is left out.
    static std::vector<ScoredCandidate> scored(const std::vector<Evaluation>& evaluations) {
        std::vector<ScoredCandidate> pairs;
        for (std::size_t i = 0; i < evaluations.size(); ++i)
            if (std::isfinite(evaluations[i].error) && !std::isnan(evaluations[i].score))
                pairs.push_back({i, evaluations[i].score});
        return pairs;
    }

    Expression materialize(std::size_t level, const std::vector<Recipe>& candidates,
                           const std::vector<Evaluation>& evaluations, std::size_t i) const {
        return beam_.materialize(candidates[i], level, *registry_, evaluations[i].refined);
    }

    const SearchConfig& config_;
    const CancelCheck& cancel_;
    std::vector<LevelStats>* stats_;
    RegistryHandle registry_;
    Dataset data_;
    const std::vector<double>& targets_;
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
    // The front holds every candidate of levels 1 to this one.
    std::size_t levels_on_front_ = 1;
    // The refined constants of the current level's candidates, which their
    // evaluations point into.
    std::vector<double> refined_pool_;
};

// The refusal of data or settings no search can run with; accepted data get
// their warnings sent first.
std::optional<SearchError> admit(const std::vector<std::vector<double>>& rows, const std::vector<double>& targets,
                                 const SearchConfig& config, const WarningSink& warn) {
    if (auto error = check_input(rows, targets, config)) return error;
    if (warn)
        for (const std::string& warning : data_warnings(rows, targets)) warn(warning);
    return std::nullopt;
}

}  // namespace

std::optional<SearchError> check_input(const std::vector<std::vector<double>>& rows, const std::vector<double>& targets,
                                       const SearchConfig& config) {
    if (rows.size() != targets.size() || rows.empty())
        return SearchError::invalid_input("Inputs and target vector must be non-empty and equal length.");
    if (rows.front().size() > kMaxVariables)
        return SearchError::invalid_input("Inputs have " + std::to_string(rows.front().size()) + " columns; at most " +
                                          std::to_string(kMaxVariables) + " input variables are supported.");
    if (config.max_complexity == 0) return SearchError::invalid_input("max_complexity must be at least 1.");
    // A negative or non-finite penalty weight makes errors negative or NaN,
    // and a NaN complexity penalty leaves the candidates unranked.
    if (!(config.alpha >= 0.0 && std::isfinite(config.alpha)))
        return setting_refused("alpha", "a finite number of at least 0", config.alpha);
    if (!(config.l1_ratio >= 0.0 && config.l1_ratio <= 1.0))
        return setting_refused("l1_ratio", "a number from 0 to 1", config.l1_ratio);
    if (std::isnan(config.complexity_penalty))
        return setting_refused("complexity_penalty", "a number", config.complexity_penalty);
    return std::nullopt;
}

Outcome<std::vector<SearchResult>> run_bfs(const std::vector<std::vector<double>>& rows,
                                           const std::vector<double>& targets, const SearchConfig& config,
                                           const SearchHooks& hooks) {
    if (auto error = admit(rows, targets, config, hooks.warn)) return *error;
    return Search(rows, targets, config, hooks).run();
}

Outcome<PartialFront> run_bfs_until(const std::vector<std::vector<double>>& rows, const std::vector<double>& targets,
                                    const SearchConfig& config, const SearchHooks& hooks) {
    if (auto error = admit(rows, targets, config, hooks.warn)) return *error;
    return Search(rows, targets, config, hooks).run_until_stopped();
}

}  // namespace kiv
