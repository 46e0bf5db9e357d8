// Graph and GraphSnapshot algorithm and batch-job methods. Every argument is converted
// before the graph is borrowed; core failures are ValueErrors with the core's message.
#include "core/algorithms.hpp"
#include "core/compute_batch.hpp"
#include "py_api/args.hpp"
#include "py_api/compute_convert.hpp"
#include "py_api/errors.hpp"
#include "py_api/graph_methods.hpp"
#include "py_api/methods.hpp"

namespace qm::py {

namespace {

PyObject* bfs_impl(Call& c) {
    std::uint64_t start = 0;
    std::string direction;
    std::optional<std::string> edge_type;
    std::optional<std::uint64_t> max_depth;
    if (!c.u64(0, start) || !c.text(1, direction) || !c.optional_text(2, edge_type) ||
        !c.optional_u64(3, max_depth))
        return nullptr;
    GraphCore* g = c.core();
    if (!g) return nullptr;
    auto r = bfs(*g, start, direction, edge_type, max_depth);
    return check(r) ? py_u64_list(*r) : nullptr;
}

PyObject* shortest_path_impl(Call& c) {
    std::uint64_t start = 0, target = 0;
    std::string direction;
    std::optional<std::string> edge_type, weight_property;
    if (!c.u64(0, start) || !c.u64(1, target) || !c.text(2, direction) || !c.optional_text(3, edge_type) ||
        !c.optional_text(4, weight_property))
        return nullptr;
    GraphCore* g = c.core();
    if (!g) return nullptr;
    auto r = shortest_path(*g, start, target, direction, edge_type, weight_property);
    return check(r) ? shortest_path_to_py(*r) : nullptr;
}

PyObject* connected_components_impl(Call& c) {
    std::optional<std::string> edge_type;
    if (!c.optional_text(0, edge_type)) return nullptr;
    GraphCore* g = c.core();
    if (!g) return nullptr;
    return components_to_py(connected_components(*g, edge_type));
}

PyObject* pagerank_impl(Call& c) {
    std::uint64_t iterations = 0;
    double damping = 0.0;
    std::optional<double> tolerance;
    std::optional<std::string> edge_type;
    if (!c.u64(0, iterations) || !c.f64(1, damping) || !c.optional_f64(2, tolerance) ||
        !c.optional_text(3, edge_type))
        return nullptr;
    GraphCore* g = c.core();
    if (!g) return nullptr;
    auto r = pagerank(*g, iterations, damping, tolerance, edge_type);
    return check(r) ? scores_to_py(*r) : nullptr;
}

PyObject* random_walk_impl(Call& c) {
    std::uint64_t start = 0, steps = 0;
    std::string direction;
    std::optional<std::string> edge_type;
    std::optional<std::uint64_t> seed;
    if (!c.u64(0, start) || !c.u64(1, steps) || !c.text(2, direction) || !c.optional_text(3, edge_type) ||
        !c.optional_u64(4, seed))
        return nullptr;
    GraphCore* g = c.core();
    if (!g) return nullptr;
    auto r = random_walk(*g, start, steps, direction, edge_type, seed);
    return check(r) ? py_u64_list(*r) : nullptr;
}

PyObject* subgraph_impl(Call& c) {
    std::vector<std::uint64_t> nodes;
    std::optional<std::string> edge_type;
    if (!c.u64_list(0, nodes) || !c.optional_text(1, edge_type)) return nullptr;
    GraphCore* g = c.core();
    if (!g) return nullptr;
    auto r = subgraph(*g, nodes, edge_type);
    if (!check(r)) return nullptr;
    return make_snapshot(c.self(), std::move(*r));
}

PyObject* compute_batch_impl(Call& c) {
    std::vector<ComputeJob> jobs;
    if (!compute_jobs_from_py(c.arg(0), jobs)) return nullptr;
    GraphCore* g = c.core();
    if (!g) return nullptr;
    auto r = compute_batch(*g, jobs);
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
    {"bfs", R"(start, direction="out", edge_type=None, max_depth=None)", S, bfs_impl},
    {"shortest_path", R"(start, target, direction="out", edge_type=None, weight_property=None)", S,
     shortest_path_impl},
    {"connected_components", "edge_type=None", S, connected_components_impl},
    {"pagerank", "iterations=20, damping=0.85, tolerance=None, edge_type=None", S, pagerank_impl},
    {"random_walk", R"(start, steps, direction="out", edge_type=None, seed=None)", S, random_walk_impl},
    {"subgraph", "nodes, edge_type=None", S, subgraph_impl},
    {"compute_batch", "jobs", S, compute_batch_impl},
};

}  // namespace

void add_algorithm_methods(std::vector<PyMethodDef>& graph, std::vector<PyMethodDef>& snapshot) {
    append_methods<kAlgorithms, std::size(kAlgorithms), Owner::Graph>(graph);
    append_methods<kAlgorithms, std::size(kAlgorithms), Owner::Snapshot>(snapshot);
}

}  // namespace qm::py
