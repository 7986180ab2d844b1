// The search taken in steps: copies that split each level's evaluation
// between them and pass on what they found end with the front of run_bfs,
// bit for bit; evaluations survive their byte form, and a malformed one is refused.
#include <cmath>
#include <memory>

#include "engine/bfs.hpp"
#include "engine/level_search.hpp"
#include "invariant.hpp"
#include "test_util.hpp"

namespace kiv {
namespace {

struct Front {
    std::vector<std::pair<std::string, double>> entries;
    friend bool operator==(const Front&, const Front&) = default;
};

Front front_of(const Outcome<std::vector<SearchResult>>& outcome) {
    Front front;
    for (const SearchResult& r : std::get<std::vector<SearchResult>>(outcome))
        front.entries.emplace_back(r.formula(), r.error);
    return front;
}

// A driver and `copies` evaluating copies; each level is cut into chunks of
// `chunk` candidates handed out in turn, and every chunk crosses its byte form.
Front split_search(const std::vector<std::vector<double>>& rows, const std::vector<double>& ys,
                   const SearchConfig& config, std::size_t copies, std::size_t chunk) {
    ProgressOutput quiet(ProgressOutput::Destination::Buffer);
    const SearchHooks hooks{.progress = &quiet};
    LevelSearch driver(rows, ys, config, hooks);
    std::vector<std::unique_ptr<LevelSearch>> workers;
    for (std::size_t i = 0; i < copies; ++i) workers.push_back(std::make_unique<LevelSearch>(rows, ys, config, hooks));
    while (!driver.finished()) {
        const std::size_t count = driver.expand();
        for (auto& worker : workers) worker->expand();
        for (std::size_t begin = 0, turn = 0; begin < count; begin += chunk, ++turn) {
            LevelSearch& worker = *workers[turn % copies];
            const std::size_t end = std::min(count, begin + chunk);
            worker.evaluate(begin, end);
            driver.absorb(EvaluatedBatch::from_bytes(worker.evaluations(begin, end).to_bytes()));
        }
        const EvaluatedBatch retained = EvaluatedBatch::from_bytes(driver.finish_level().to_bytes());
        for (auto& worker : workers) worker->adopt_level(retained);
    }
    return front_of(driver.result());
}

TEST(LevelSearch, CopiesSharingEachLevelFindTheFrontOfOneSearch) {
    std::vector<std::vector<double>> rows;
    std::vector<double> ys;
    for (int i = 0; i < 30; ++i) {
        const double x = 0.1 * i - 1.3, z = std::cos(0.3 * i);
        rows.push_back({x, z});
        ys.push_back(x * x * std::exp(z) + 0.7);
    }
    const SearchConfig config(5, 0.1, 40, 0.0, 0.5);
    testing::internal::CaptureStdout();
    const Front whole = front_of(run_bfs(rows, ys, config));
    testing::internal::GetCapturedStdout();
    for (const auto& [copies, chunk] : {std::pair<std::size_t, std::size_t>{1, 1000000}, {2, 7}, {3, 100}}) {
        SCOPED_TRACE(testing::Message() << copies << " copies, chunks of " << chunk);
        EXPECT_EQ(split_search(rows, ys, config, copies, chunk), whole);
    }
}

TEST(EvaluatedBatch, SurvivesItsBytesAndRefusesMalformedOnes) {
    EvaluatedBatch batch;
    batch.append(3, 0.25, std::vector<double>{1.5, -2.0});
    batch.append(9, 4.0, {});
    const std::string bytes = batch.to_bytes();
    const EvaluatedBatch back = EvaluatedBatch::from_bytes(bytes);
    EXPECT_EQ(back.indices, batch.indices);
    EXPECT_EQ(back.refined, batch.refined);
    EXPECT_EQ(EvaluatedBatch::from_bytes(EvaluatedBatch{}.to_bytes()).size(), 0u);  // no null pointer reaches memcpy
    for (const std::string& bad : {bytes.substr(0, bytes.size() - 1), bytes + "x", std::string(4, '\0')})
        EXPECT_THROW_MSG(EvaluatedBatch::from_bytes(bad), InvariantViolation, "EvaluatedBatch");
}

}  // namespace
}  // namespace kiv
