// Graph and GraphSnapshot traversal methods. propagate is Graph-only: a snapshot offers
// the walks that answer "what is near", not the scoring entry point.
#include "core/traversal.hpp"
#include "py_api/args.hpp"
#include "py_api/binding_messages.hpp"
#include "py_api/errors.hpp"
#include "py_api/graph_methods.hpp"
#include "py_api/methods.hpp"

namespace qm::py {

namespace {

PyObject* id_list_or_raise(const Result<std::vector<std::uint64_t>>& r) {
    if (!r) return raise_value_error(r.error());
    return py_u64_list(*r);
}

struct NeighborsArgs {
    std::uint64_t node_id = 0;
    std::string direction;
    std::optional<std::string> edge_type;
    static constexpr auto params = declare(param("node_id", &NeighborsArgs::node_id),
                                           param("direction", &NeighborsArgs::direction, R"("out")"),
                                           param("edge_type", &NeighborsArgs::edge_type, "None"));
};

PyObject* neighbors_impl(Call& c, NeighborsArgs& a) {
    const GraphView* g = c.view();
    if (!g) return nullptr;
    return id_list_or_raise(neighbors(*g, a.node_id, a.direction, a.edge_type));
}

struct KHopArgs {
    std::uint64_t start = 0;
    std::uint64_t hops = 0;
    std::string direction;
    std::optional<std::string> edge_type;
    static constexpr auto params = declare(param("start", &KHopArgs::start), param("hops", &KHopArgs::hops),
                                           param("direction", &KHopArgs::direction, R"("out")"),
                                           param("edge_type", &KHopArgs::edge_type, "None"));
};

PyObject* k_hop_impl(Call& c, KHopArgs& a) {
    const GraphView* g = c.view();
    if (!g) return nullptr;
    return id_list_or_raise(k_hop(*g, a.start, a.hops, a.direction, a.edge_type));
}

struct FrontierArgs {
    std::vector<std::uint64_t> starts;
    std::uint64_t steps = 0;
    std::string direction;
    std::optional<std::string> edge_type;
    static constexpr auto params = declare(param("starts", &FrontierArgs::starts),
                                           param("steps", &FrontierArgs::steps),
                                           param("direction", &FrontierArgs::direction, R"("out")"),
                                           param("edge_type", &FrontierArgs::edge_type, "None"));
};

PyObject* frontier_impl(Call& c, FrontierArgs& a) {
    const GraphView* g = c.view();
    if (!g) return nullptr;
    return id_list_or_raise(frontier(*g, a.starts, a.steps, a.direction, a.edge_type));
}

struct PropagateArgs {
    SeedMap seeds;
    std::uint64_t steps = 0;
    std::string edge_property;
    double damping = 0.0;
    std::optional<std::string> edge_type;
    static constexpr auto params = declare(param("seeds", &PropagateArgs::seeds),
                                           param("steps", &PropagateArgs::steps),
                                           param("edge_property", &PropagateArgs::edge_property, R"("probability")"),
                                           param("damping", &PropagateArgs::damping, "1.0"),
                                           param("edge_type", &PropagateArgs::edge_type, "None"));
};

PyObject* propagate_impl(Call& c, PropagateArgs& a) {
    const GraphView* g = c.view();
    if (!g) return nullptr;
    auto scores = propagate(*g, a.seeds.items, a.steps, a.edge_property, a.damping, a.edge_type);
    if (!scores) return raise_value_error(scores.error());
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict) return nullptr;
    for (const auto& [node, score] : *scores) {
        PyRef k = PyRef::steal(py_u64(node));
        PyRef v = PyRef::steal(PyFloat_FromDouble(score));
        if (!k || !v || PyDict_SetItem(dict.get(), k.get(), v.get()) < 0) return nullptr;
    }
    return dict.release();
}

constexpr auto S = Borrow::Shared;

constexpr MethodDef kWalks[] = {
    method<neighbors_impl>("neighbors", S),
    method<k_hop_impl>("k_hop", S),
    method<frontier_impl>("frontier", S),
};

constexpr MethodDef kScoring[] = {
    method<propagate_impl>("propagate", S),
};

}  // namespace

void add_traversal_methods(MethodList& graph, MethodList& snapshot) {
    graph.add<GraphClass, kWalks>();
    graph.add<GraphClass, kScoring>();
    snapshot.add<SnapshotClass, kWalks>();
}

}  // namespace qm::py
