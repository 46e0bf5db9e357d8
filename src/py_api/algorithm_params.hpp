// The parameters of the algorithms, declared once: the Graph and GraphSnapshot methods parse
// their arguments with these declarations, and compute_batch reads its job dicts with the
// same names, the same conversions and the same defaults. Each extends the core's job, so
// what a method converts is the job a batch would run.
#pragma once

#include "core/compute_batch.hpp"
#include "py_api/args.hpp"
#include "py_api/compute_convert.hpp"

namespace qm::py {

struct BfsArgs : BfsJob {
    using Job = BfsJob;
    static constexpr auto params = declare(param("start", &BfsJob::start),
                                           param("direction", &BfsJob::direction, R"("out")"),
                                           param("edge_type", &BfsJob::edge_type, "None"),
                                           param("max_depth", &BfsJob::max_depth, "None"));
};

struct ShortestPathArgs : ShortestPathJob {
    using Job = ShortestPathJob;
    static constexpr auto params = declare(param("start", &ShortestPathJob::start),
                                           param("target", &ShortestPathJob::target),
                                           param("direction", &ShortestPathJob::direction, R"("out")"),
                                           param("edge_type", &ShortestPathJob::edge_type, "None"),
                                           param("weight_property", &ShortestPathJob::weight_property, "None"));
};

struct ConnectedComponentsArgs : ConnectedComponentsJob {
    using Job = ConnectedComponentsJob;
    static constexpr auto params = declare(param("edge_type", &ConnectedComponentsJob::edge_type, "None"));
};

struct PageRankArgs : PageRankJob {
    using Job = PageRankJob;
    static constexpr auto params = declare(param("iterations", &PageRankJob::iterations, "20"),
                                           param("damping", &PageRankJob::damping, "0.85"),
                                           param("tolerance", &PageRankJob::tolerance, "None"),
                                           param("edge_type", &PageRankJob::edge_type, "None"));
};

struct RandomWalkArgs : RandomWalkJob {
    using Job = RandomWalkJob;
    static constexpr auto params = declare(param("start", &RandomWalkJob::start),
                                           param("steps", &RandomWalkJob::steps),
                                           param("direction", &RandomWalkJob::direction, R"("out")"),
                                           param("edge_type", &RandomWalkJob::edge_type, "None"),
                                           param("seed", &RandomWalkJob::seed, "None"));
};

struct SubgraphArgs : SubgraphJob {
    using Job = SubgraphJob;
    static constexpr auto params = declare(param("nodes", &SubgraphJob::nodes),
                                           param("edge_type", &SubgraphJob::edge_type, "None"));
};

// The jobs argument of compute_batch, every job converted and checked before any runs.
struct ComputeJobs {
    std::vector<ComputeJob> jobs;
};

template <>
struct Converter<ComputeJobs> {
    static bool convert(PyObject* o, std::string_view, ComputeJobs& out) { return compute_jobs_from_py(o, out.jobs); }
};

}  // namespace qm::py
