#include "engine/level_search.hpp"

#include <algorithm>
#include <cmath>

#include "engine/finalize_result.hpp"
#include "engine/retention.hpp"
#include "invariant.hpp"

namespace kiv {
namespace {

constexpr std::size_t kCandidateRefinementIterations = 10;

}  // namespace

LevelSearch::LevelSearch(const std::vector<std::vector<double>>& rows, std::vector<double> targets,
                         const SearchConfig& config, SearchHooks hooks)
    : config_(config),
      hooks_(std::move(hooks)),
      registry_(std::make_shared<const OperatorRegistry>(with_builtins())),
      data_(Dataset::from_rows(rows)),
      targets_(std::move(targets)),
      error_scale_(error_scale(targets_)),
      penalty_{config.alpha, config.l1_ratio},
      progress_(hooks_.progress_output()),
      expander_(*registry_, hooks_.operators, seen_, workers_),
      workspaces_(workers_.size(),
                  Workspace{{}, {}, {}, {}, ConstantRefiner(kCandidateRefinementIterations, error_scale_)}) {
    seed_level_one();
    if (!fits_well_enough()) progress_.banner(beam_.bucket(1).size());
}

bool LevelSearch::finished() const { return levels_retained_ >= config_.max_complexity || fits_well_enough(); }

// The early exit, its threshold on the targets' error scale.
bool LevelSearch::fits_well_enough() const {
    return front_.check_early_exit(config_.early_exit_error * error_scale_, config_.exhaustive);
}

// Level 1: the free constant, then one variable per input column. Not
// refined, scored or cut; a variable stays even when its error is infinite.
void LevelSearch::seed_level_one() {
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

bool LevelSearch::is_new(const Expression& expression) {
    const auto fp = fingerprint(expression, *registry_);
    return fp && seen_.insert(digest(*fp));
}

// Candidate i may keep its refined constants in its own slot of the level's
// pool, so workers never write the same slot.
std::size_t LevelSearch::expand() {
    level_start_ = std::chrono::steady_clock::now();
    // A level without candidates runs no parallel step, which is where
    // cancellation is otherwise polled.
    if (hooks_.cancel && hooks_.cancel()) throw SearchCancelled();
    const std::size_t level = levels_retained_ + 1;
    candidates_ = expander_.expand(level, beam_, hooks_.cancel);
    progress_.start_level(level, candidates_.size());
    slot_start_.assign(candidates_.size() + 1, 0);
    for (std::size_t i = 0; i < candidates_.size(); ++i) slot_start_[i + 1] = slot_start_[i] + n_params(candidates_[i]);
    refined_pool_.assign(slot_start_.back(), 0.0);
    evaluations_.assign(candidates_.size(), Evaluation{});
    return candidates_.size();
}

std::size_t LevelSearch::n_params(const Recipe& recipe) const {
    const BeamEntry* right = beam_.right(recipe, levels_retained_ + 1);
    return beam_.left(recipe).expression.n_params + (right ? right->expression.n_params : 0);
}

std::span<double> LevelSearch::slot(std::size_t i) {
    return {refined_pool_.data() + slot_start_[i], slot_start_[i + 1] - slot_start_[i]};
}

void LevelSearch::evaluate(std::size_t begin, std::size_t end) {
    if (begin > end || end > candidates_.size())
        throw InvariantViolation("candidate range out of the level in src/engine/level_search");
    workers_.parallel_for(
        end - begin,
        [&](std::size_t k) {
            progress_.candidate_started();
            check_index(current_worker(), workspaces_.size(), "src/engine/level_search");
            const std::size_t i = begin + k;
            evaluations_[i] = evaluate_one(candidates_[i], slot(i), workspaces_[current_worker()]);
        },
        hooks_.cancel);
}

// Error with the operands' constants, then the refined constants if they
// do strictly better, kept in `slot`; the score inflates the error by
// complexity.
//
// For the expressions the search builds (an operator at the root, no Real
// tokens, constants on the real axis) the refinement's starting error is
// exactly the raw error, so it is not computed twice.
LevelSearch::Evaluation LevelSearch::evaluate_one(const Recipe& recipe, std::span<double> slot, Workspace& ws) const {
    const std::size_t level = levels_retained_ + 1;
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
                throw InvariantViolation("refined constants do not fit their slot in src/engine/level_search");
            std::copy(refined.constants.begin(), refined.constants.end(), slot.begin());
            result.refined = slot;
        }
    } else {
        error = compute_raw_error(objective, ws.evaluator);
    }
    if (!std::isfinite(error)) return Evaluation{};
    result.error = error;
    result.score = score_of(error);
    return result;
}

double LevelSearch::score_of(double error) const {
    return error * (config_.complexity_penalty * static_cast<double>(levels_retained_ + 1) + 1.0);
}

EvaluatedBatch LevelSearch::evaluations(std::size_t begin, std::size_t end) const {
    EvaluatedBatch batch;
    for (std::size_t i = begin; i < end; ++i)
        if (std::isfinite(evaluations_[i].error)) batch.append(i, evaluations_[i].error, evaluations_[i].refined);
    return batch;
}

void LevelSearch::absorb(const EvaluatedBatch& batch) {
    std::size_t offset = 0;
    for (std::size_t k = 0; k < batch.size(); ++k) {
        const std::size_t i = batch.indices[k];
        check_index(i, candidates_.size(), "src/engine/level_search");
        const std::span<double> own = slot(i);
        const std::size_t count = batch.refined_counts[k];
        if (count != 0 && count != own.size())
            throw InvariantViolation("absorbed constants do not fit their slot in src/engine/level_search");
        std::copy_n(batch.refined.begin() + static_cast<std::ptrdiff_t>(offset), count, own.begin());
        offset += count;
        evaluations_[i] = Evaluation{batch.errors[k], score_of(batch.errors[k]), own.first(count)};
    }
}

EvaluatedBatch LevelSearch::finish_level() {
    const std::size_t level = levels_retained_ + 1;
    progress_.level_evaluated();
    offer_to_front();
    levels_on_front_ = level;
    std::vector<ScoredCandidate> ranked = scored();
    rank(ranked);
    const auto kept = retain(std::move(ranked), config_.beam_width, elite_count(config_.beam_width),
                             [&](std::size_t i) { return beam_.op_key(candidates_[i], level); });
    std::vector<std::size_t> indices(kept.size());
    EvaluatedBatch retained;
    for (std::size_t k = 0; k < kept.size(); ++k) {
        indices[k] = kept[k].index;
        retained.append(kept[k].index, evaluations_[kept[k].index].error, evaluations_[kept[k].index].refined);
    }
    retain_level(indices);
    const auto elapsed = std::chrono::steady_clock::now() - level_start_;
    progress_.level_summary(level, elapsed, beam_.bucket(level).size());
    if (hooks_.stats)
        hooks_.stats->push_back({level, expander_.generated(), candidates_.size(), count_scored(),
                                 beam_.bucket(level).size(), std::chrono::duration<double>(elapsed).count()});
    release_level();
    return retained;
}

void LevelSearch::adopt_level(const EvaluatedBatch& retained) {
    absorb(retained);
    retain_level({retained.indices.begin(), retained.indices.end()});
    release_level();
}

// Each entry evaluates its values on all rows, so they are built in parallel.
void LevelSearch::retain_level(const std::vector<std::size_t>& kept) {
    std::vector<BeamEntry> entries(kept.size());
    workers_.parallel_for(
        kept.size(), [&](std::size_t i) { entries[i] = BeamEntry::make(materialize(kept[i]), *registry_, data_); },
        hooks_.cancel);
    beam_.add_level(std::move(entries));
    ++levels_retained_;
}

void LevelSearch::release_level() {
    candidates_ = {};
    evaluations_ = {};
    slot_start_ = {};
    refined_pool_ = {};
}

std::size_t LevelSearch::count_scored() const {
    std::size_t count = 0;
    for (const Evaluation& e : evaluations_) count += std::isfinite(e.error) ? 1 : 0;
    return count;
}

// The front sees each candidate's score divided back by its complexity
// factor; a quotient that is not finite (a zero or infinite factor) is
// not offered, so the front holds finite errors only.
void LevelSearch::offer_to_front() {
    const std::size_t level = levels_retained_ + 1;
    const double factor = config_.complexity_penalty * static_cast<double>(level) + 1.0;
    for (std::size_t i = 0; i < candidates_.size(); ++i) {
        if (!std::isfinite(evaluations_[i].error)) continue;
        const double error = evaluations_[i].score / factor;
        if (std::isfinite(error) && front_.would_accept(level, error)) front_.update(error, materialize(i));
    }
}

// Evaluated candidates in candidate order. A NaN score (a NaN or infinite
// complexity penalty) cannot be ranked, so it is left out.
std::vector<ScoredCandidate> LevelSearch::scored() const {
    std::vector<ScoredCandidate> pairs;
    for (std::size_t i = 0; i < evaluations_.size(); ++i)
        if (std::isfinite(evaluations_[i].error) && !std::isnan(evaluations_[i].score))
            pairs.push_back({i, evaluations_[i].score});
    return pairs;
}

Expression LevelSearch::materialize(std::size_t i) const {
    return beam_.materialize(candidates_[i], levels_retained_ + 1, *registry_, evaluations_[i].refined);
}

Outcome<std::vector<SearchResult>> LevelSearch::result() const {
    return finalize_result(front_, registry_, config_, data_, targets_);
}

}  // namespace kiv
