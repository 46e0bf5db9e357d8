// Graph's inference methods: belief propagation (which may persist, so it takes the graph
// exclusively), and the two read-only ones, the active region and local propagation.
// GraphSnapshot offers none of them.
#include "inference/active_subgraph.hpp"
#include "inference/belief_propagation.hpp"
#include "inference/local_propagation.hpp"
#include "py_api/args.hpp"
#include "py_api/binding_messages.hpp"
#include "py_api/errors.hpp"
#include "py_api/graph_methods.hpp"
#include "py_api/inference_convert.hpp"
#include "py_api/methods.hpp"

namespace qm::py {

namespace {

struct EvidenceArg {
    inference::EvidenceMap map;
};

// Exactly True or False.
struct Flag {
    bool value = false;
};

}  // namespace

template <>
struct Converter<EvidenceArg> {
    static constexpr std::string_view kNoun = "a dict";
    static bool read(PyObject* o, EvidenceArg& out) { return evidence_from_py(o, out.map); }
};

template <>
struct Converter<Flag> {
    static constexpr std::string_view kNoun = "a bool";
    static bool read(PyObject* o, Flag& out) { return read_bool(o, out.value); }
};

namespace {

struct BeliefArgs {
    std::vector<std::uint64_t> query_variables;
    EvidenceArg evidence;
    std::uint64_t radius = 0;
    std::uint64_t max_iters = 0;
    double tolerance = 0.0;
    double damping = 0.0;
    Flag persist;
    static constexpr auto params = declare(param("query_variables", &BeliefArgs::query_variables, "None"),
                                           param("evidence", &BeliefArgs::evidence, "None"),
                                           param("radius", &BeliefArgs::radius, "2"),
                                           param("max_iters", &BeliefArgs::max_iters, "1000"),
                                           param("tolerance", &BeliefArgs::tolerance, "1e-6"),
                                           param("damping", &BeliefArgs::damping, "0.2"),
                                           param("persist", &BeliefArgs::persist, "False"));
};

PyObject* belief_propagation_impl(Call& c, BeliefArgs& a) {
    GraphCore* g = c.core();
    if (!g) return nullptr;
    auto r = inference::belief_propagation(*g, a.query_variables, a.evidence.map, a.radius, a.max_iters,
                                           a.persist.value, a.tolerance, a.damping);
    if (!r) return raise_value_error(r.error());
    return belief_result_to_py(*r);
}

struct RegionArgs {
    std::vector<std::uint64_t> query_variables;
    EvidenceArg evidence;
    std::uint64_t radius = 0;
    std::uint64_t max_nodes = 0;
    std::uint64_t max_factors = 0;
    static constexpr auto params = declare(param("query_variables", &RegionArgs::query_variables),
                                           param("evidence", &RegionArgs::evidence, "None"),
                                           param("radius", &RegionArgs::radius, "2"),
                                           param("max_nodes", &RegionArgs::max_nodes, "10000"),
                                           param("max_factors", &RegionArgs::max_factors, "50000"));
};

PyObject* compile_active_subgraph_impl(Call& c, RegionArgs& a) {
    const GraphView* g = c.view();
    if (!g) return nullptr;
    auto r = inference::compile_active_subgraph(*g, a.query_variables, a.evidence.map, a.radius, a.max_nodes,
                                                a.max_factors);
    if (!r) return raise_value_error(r.error());
    return active_subgraph_to_py(*r);
}

struct LocalArgs {
    SeedMap seeds;
    std::uint64_t radius = 0;
    std::vector<std::uint64_t> query_nodes;
    std::optional<std::string> edge_type;
    std::string edge_property;
    double damping = 0.0;
    static constexpr auto params = declare(param("seeds", &LocalArgs::seeds),
                                           param("radius", &LocalArgs::radius, "2"),
                                           param("query_nodes", &LocalArgs::query_nodes, "None"),
                                           param("edge_type", &LocalArgs::edge_type, "None"),
                                           param("edge_property", &LocalArgs::edge_property, R"("probability")"),
                                           param("damping", &LocalArgs::damping, "1.0"));
};

PyObject* local_propagate_impl(Call& c, LocalArgs& a) {
    const GraphView* g = c.view();
    if (!g) return nullptr;
    auto r = inference::local_propagate(*g, a.seeds.items, a.radius, a.query_nodes, a.edge_type, a.edge_property,
                                        a.damping);
    if (!r) return raise_value_error(r.error());
    return scores_to_py(*r);
}

constexpr MethodDef kInference[] = {
    method<belief_propagation_impl>("belief_propagation", Borrow::Exclusive),
    method<compile_active_subgraph_impl>("compile_active_subgraph", Borrow::Shared),
    method<local_propagate_impl>("local_propagate", Borrow::Shared),
};

}  // namespace

void add_inference_methods(MethodList& graph) { graph.add<GraphClass, kInference>(); }

}  // namespace qm::py
