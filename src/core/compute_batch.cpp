#include "core/compute_batch.hpp"

#include "core/messages.hpp"

namespace qm {

namespace {

// Wraps an algorithm's value into its result alternative, keeping the error as it is.
template <class Output, class T>
Result<ComputeResult> wrap(Result<T> r) {
    if (!r) return fail(std::move(r.error()));
    return ComputeResult{Output{std::move(*r)}};
}

}  // namespace

Result<ComputeResult> run_compute_job(const GraphView& g, const ComputeJob& job) {
    struct Runner {
        const GraphView& g;
        Result<ComputeResult> operator()(const BfsJob& j) const {
            return wrap<BfsOutput>(bfs(g, j.start, j.direction, j.edge_type, j.max_depth));
        }
        Result<ComputeResult> operator()(const ShortestPathJob& j) const {
            return wrap<ShortestPathOutput>(
                shortest_path(g, j.start, j.target, j.direction, j.edge_type, j.weight_property));
        }
        Result<ComputeResult> operator()(const ConnectedComponentsJob& j) const {
            return ComputeResult{ComponentsOutput{connected_components(g, j.edge_type)}};
        }
        Result<ComputeResult> operator()(const PageRankJob& j) const {
            return wrap<PageRankOutput>(pagerank(g, j.iterations, j.damping, j.tolerance, j.edge_type));
        }
        Result<ComputeResult> operator()(const RandomWalkJob& j) const {
            return wrap<RandomWalkOutput>(random_walk(g, j.start, j.steps, j.direction, j.edge_type, j.seed));
        }
        Result<ComputeResult> operator()(const SubgraphJob& j) const {
            return wrap<SubgraphOutput>(subgraph(g, j.nodes, j.edge_type));
        }
    };
    return std::visit(Runner{g}, job);
}

Result<std::vector<ComputeResult>> compute_batch(const GraphView& g, const std::vector<ComputeJob>& jobs) {
    std::vector<ComputeResult> results;
    results.reserve(jobs.size());
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        auto r = run_compute_job(g, jobs[i]);
        if (!r) return fail(msg::job_failed(i, r.error()));
        results.push_back(std::move(*r));
    }
    return results;
}

}  // namespace qm
