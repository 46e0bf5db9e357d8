// Batches of algorithm jobs: one job per algorithm invocation, run in order on one graph.
// The first failing job ends the batch and discards the results of the jobs before it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "core/algorithms.hpp"
#include "core/view.hpp"
#include "core/result.hpp"

namespace qm {

// Whoever builds a job fills every field; the defaults of omitted arguments belong to the
// declarations of the methods the jobs mirror.
struct BfsJob {
    std::uint64_t start = 0;
    std::string direction;
    std::optional<std::string> edge_type;
    std::optional<std::uint64_t> max_depth;
};

struct ShortestPathJob {
    std::uint64_t start = 0;
    std::uint64_t target = 0;
    std::string direction;
    std::optional<std::string> edge_type;
    std::optional<std::string> weight_property;
};

struct ConnectedComponentsJob {
    std::optional<std::string> edge_type;
};

struct PageRankJob {
    std::uint64_t iterations = 0;
    double damping = 0.0;
    std::optional<double> tolerance;
    std::optional<std::string> edge_type;
};

struct RandomWalkJob {
    std::uint64_t start = 0;
    std::uint64_t steps = 0;
    std::string direction;
    std::optional<std::string> edge_type;
    std::optional<std::uint64_t> seed;
};

struct SubgraphJob {
    std::vector<std::uint64_t> nodes;
    std::optional<std::string> edge_type;
};

// Alternatives in the order of their op names: "bfs", "shortest_path",
// "connected_components", "pagerank", "random_walk", "subgraph".
using ComputeJob = std::variant<BfsJob, ShortestPathJob, ConnectedComponentsJob, PageRankJob,
                                RandomWalkJob, SubgraphJob>;

struct BfsOutput {
    std::vector<std::uint64_t> nodes;
};
struct ShortestPathOutput {
    std::optional<WeightedPath> path;
};
struct ComponentsOutput {
    std::vector<std::vector<std::uint64_t>> components;
};
struct PageRankOutput {
    ScoreList scores;
};
struct RandomWalkOutput {
    std::vector<std::uint64_t> nodes;
};
struct SubgraphOutput {
    GraphCore graph;
};

// One alternative per job kind, in the same order as ComputeJob.
using ComputeResult = std::variant<BfsOutput, ShortestPathOutput, ComponentsOutput, PageRankOutput,
                                   RandomWalkOutput, SubgraphOutput>;

// Runs one job.
[[nodiscard]] Result<ComputeResult> run_compute_job(const GraphView& g, const ComputeJob& job);

// Runs every job in order; the first failure becomes "job {index}: {message}".
[[nodiscard]] Result<std::vector<ComputeResult>> compute_batch(const GraphView& g,
                                                               const std::vector<ComputeJob>& jobs);

}  // namespace qm
