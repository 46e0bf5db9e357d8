// Graph and GraphSnapshot algorithm and batch-job methods. Every argument is converted
// before the graph is borrowed; core failures are ValueErrors with the core's message.
#include "core/algorithms.hpp"
#include "core/compute_batch.hpp"
#include "py_api/algorithm_params.hpp"
#include "py_api/args.hpp"
#include "py_api/compute_convert.hpp"
#include "py_api/errors.hpp"
#include "py_api/graph_methods.hpp"
#include "py_api/methods.hpp"

namespace qm::py {

namespace {

PyObject* bfs_impl(Call& c, BfsArgs& a) {
    const GraphView* g = c.view();
    if (!g) return nullptr;
    auto r = bfs(*g, a.start, a.direction, a.edge_type, a.max_depth);
    return check(r) ? py_u64_list(*r) : nullptr;
}

PyObject* shortest_path_impl(Call& c, ShortestPathArgs& a) {
    const GraphView* g = c.view();
    if (!g) return nullptr;
    auto r = shortest_path(*g, a.start, a.target, a.direction, a.edge_type, a.weight_property);
    return check(r) ? shortest_path_to_py(*r) : nullptr;
}

PyObject* connected_components_impl(Call& c, ConnectedComponentsArgs& a) {
    const GraphView* g = c.view();
    if (!g) return nullptr;
    return components_to_py(connected_components(*g, a.edge_type));
}

PyObject* pagerank_impl(Call& c, PageRankArgs& a) {
    const GraphView* g = c.view();
    if (!g) return nullptr;
    auto r = pagerank(*g, a.iterations, a.damping, a.tolerance, a.edge_type);
    return check(r) ? scores_to_py(*r) : nullptr;
}

PyObject* random_walk_impl(Call& c, RandomWalkArgs& a) {
    const GraphView* g = c.view();
    if (!g) return nullptr;
    auto r = random_walk(*g, a.start, a.steps, a.direction, a.edge_type, a.seed);
    return check(r) ? py_u64_list(*r) : nullptr;
}

PyObject* subgraph_impl(Call& c, SubgraphArgs& a) {
    const GraphView* g = c.view();
    if (!g) return nullptr;
    auto r = subgraph(*g, a.nodes, a.edge_type);
    if (!check(r)) return nullptr;
    return make_snapshot(c.self(), std::move(*r));
}

struct ComputeBatchArgs {
    ComputeJobs jobs;
    static constexpr auto params = declare(param("jobs", &ComputeBatchArgs::jobs));
};

PyObject* compute_batch_impl(Call& c, ComputeBatchArgs& a) {
    const GraphView* g = c.view();
    if (!g) return nullptr;
    auto r = compute_batch(*g, a.jobs.jobs);
    if (!check(r)) return nullptr;
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(r->size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < r->size(); ++i) {
        PyObject* item = compute_result_to_py(c.self(), (*r)[i]);
        if (!item) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

constexpr auto S = Borrow::Shared;

constexpr MethodDef kAlgorithms[] = {
    method<bfs_impl>("bfs", S),
    method<shortest_path_impl>("shortest_path", S),
    method<connected_components_impl>("connected_components", S),
    method<pagerank_impl>("pagerank", S),
    method<random_walk_impl>("random_walk", S),
    method<subgraph_impl>("subgraph", S),
    method<compute_batch_impl>("compute_batch", S),
};

}  // namespace

void add_algorithm_methods(MethodList& graph, MethodList& snapshot) {
    graph.add<GraphClass, kAlgorithms>();
    snapshot.add<SnapshotClass, kAlgorithms>();
}

}  // namespace qm::py
