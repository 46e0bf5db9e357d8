// Graph methods for creating nodes and edges and looking them up.
#include "py_api/args.hpp"
#include "py_api/errors.hpp"
#include "py_api/graph_methods.hpp"
#include "py_api/methods.hpp"
#include "py_api/properties.hpp"
#include "py_api/records.hpp"

namespace qm::py {

namespace {

struct AddNodeArgs {
    std::optional<std::string> external_id;
    std::vector<std::string> labels;
    DictArg properties;  // read after the graph is taken
    static constexpr auto params = declare(param("external_id", &AddNodeArgs::external_id, "None"),
                                           param("labels", &AddNodeArgs::labels, "None"),
                                           param("properties", &AddNodeArgs::properties, "None"));
};

PyObject* add_node(Call& c, AddNodeArgs& a) {
    GraphCore* g = c.core();
    if (!g) return nullptr;
    PropertyMap props;
    if (!properties_from_py(a.properties.dict, props)) return nullptr;
    auto id = g->add_node(std::move(a.external_id), std::move(a.labels), std::move(props));
    if (!check(id)) return nullptr;
    return py_u64(*id);
}

struct AddEdgeArgs {
    std::uint64_t source = 0;
    std::uint64_t target = 0;
    std::string edge_type;
    DictArg properties;  // read after the graph is taken
    static constexpr auto params = declare(param("source", &AddEdgeArgs::source),
                                           param("target", &AddEdgeArgs::target),
                                           param("edge_type", &AddEdgeArgs::edge_type),
                                           param("properties", &AddEdgeArgs::properties, "None"));
};

PyObject* add_edge(Call& c, AddEdgeArgs& a) {
    GraphCore* g = c.core();
    if (!g) return nullptr;
    PropertyMap props;
    if (!properties_from_py(a.properties.dict, props)) return nullptr;
    auto id = g->add_edge(a.source, a.target, std::move(a.edge_type), std::move(props));
    if (!check(id)) return nullptr;
    return py_u64(*id);
}

struct NodeRecordsArgs {
    NodeRecords records;
    static constexpr auto params = declare(param("records", &NodeRecordsArgs::records));
};

struct EdgeRecordsArgs {
    EdgeRecords records;
    static constexpr auto params = declare(param("records", &EdgeRecordsArgs::records));
};

PyObject* add_nodes(Call& c, NodeRecordsArgs& a) {
    GraphCore* g = c.core();
    if (!g) return nullptr;
    auto ids = g->add_nodes(std::move(a.records.records), a.records.props);
    if (!check(ids)) return nullptr;
    return py_u64_list(*ids);
}

PyObject* add_edges(Call& c, EdgeRecordsArgs& a) {
    GraphCore* g = c.core();
    if (!g) return nullptr;
    auto ids = g->add_edges(std::move(a.records.records), a.records.types, a.records.props);
    if (!check(ids)) return nullptr;
    return py_u64_list(*ids);
}

struct NodeIdArgs {
    std::uint64_t node_id = 0;
    static constexpr auto params = declare(param("node_id", &NodeIdArgs::node_id));
};

PyObject* get_node(Call& c, NodeIdArgs& a) {
    const GraphView* g = c.view();
    if (!g) return nullptr;
    auto rec = g->get_node(a.node_id);
    if (!rec) return raise_not_found("node", a.node_id);
    return make_node(c.state(), std::move(*rec));
}

struct EdgeIdArgs {
    std::uint64_t edge_id = 0;
    static constexpr auto params = declare(param("edge_id", &EdgeIdArgs::edge_id));
};

PyObject* get_edge(Call& c, EdgeIdArgs& a) {
    const GraphView* g = c.view();
    if (!g) return nullptr;
    auto rec = g->get_edge(a.edge_id);
    if (!rec) return raise_not_found("edge", a.edge_id);
    return make_edge(c.state(), std::move(*rec));
}

struct ExternalIdArgs {
    std::string external_id;
    static constexpr auto params = declare(param("external_id", &ExternalIdArgs::external_id));
};

PyObject* get_node_id(Call& c, ExternalIdArgs& a) {
    const GraphView* g = c.view();
    if (!g) return nullptr;
    auto id = g->get_node_id(a.external_id);
    if (!id) Py_RETURN_NONE;
    return py_u64(*id);
}

PyObject* nodes(Call& c) {
    const GraphView* g = c.view();
    if (!g) return nullptr;
    ModuleState* st = c.state();
    return py_list(g->node_ids(), [&](std::uint64_t id) { return make_node(st, *g->get_node(id)); });
}

PyObject* edges(Call& c) {
    const GraphView* g = c.view();
    if (!g) return nullptr;
    ModuleState* st = c.state();
    return py_list(g->edge_ids(), [&](std::uint64_t id) { return make_edge(st, *g->get_edge(id)); });
}

PyObject* node_ids(Call& c) {
    const GraphView* g = c.view();
    return g ? py_u64_list(g->node_ids()) : nullptr;
}

PyObject* edge_ids(Call& c) {
    const GraphView* g = c.view();
    return g ? py_u64_list(g->edge_ids()) : nullptr;
}

PyObject* node_count(Call& c) {
    const GraphView* g = c.view();
    return g ? py_u64(g->node_count()) : nullptr;
}

PyObject* edge_count(Call& c) {
    const GraphView* g = c.view();
    return g ? py_u64(g->edge_count()) : nullptr;
}

struct LabelArgs {
    std::string label;
    static constexpr auto params = declare(param("label", &LabelArgs::label));
};

PyObject* nodes_with_label(Call& c, LabelArgs& a) {
    const GraphView* g = c.view();
    return g ? py_u64_list(g->nodes_with_label(a.label)) : nullptr;
}

struct EdgeTypeArgs {
    std::string edge_type;
    static constexpr auto params = declare(param("edge_type", &EdgeTypeArgs::edge_type));
};

PyObject* edges_by_type(Call& c, EdgeTypeArgs& a) {
    const GraphView* g = c.view();
    return g ? py_u64_list(g->edges_by_type(a.edge_type)) : nullptr;
}

// A key lookup (value None) or a value lookup.
struct PropertyLookupArgs {
    std::string key;
    std::optional<PropertyValue> value;
    static constexpr auto params = declare(param("key", &PropertyLookupArgs::key),
                                           param("value", &PropertyLookupArgs::value, "None"));
};

PyObject* nodes_with_property(Call& c, PropertyLookupArgs& a) {
    const GraphView* g = c.view();
    return g ? py_u64_list(g->nodes_with_property(a.key, a.value)) : nullptr;
}

PyObject* edges_with_property(Call& c, PropertyLookupArgs& a) {
    const GraphView* g = c.view();
    return g ? py_u64_list(g->edges_with_property(a.key, a.value)) : nullptr;
}

constexpr auto X = Borrow::Exclusive;
constexpr auto S = Borrow::Shared;

constexpr MethodDef kWrites[] = {
    method<add_node>("add_node", X),
    method<add_edge>("add_edge", X),
    method<add_nodes>("add_nodes", X),
    method<add_edges>("add_edges", X),
};

constexpr MethodDef kReads[] = {
    method<get_node>("get_node", S),
    method<get_edge>("get_edge", S),
    method<get_node_id>("get_node_id", S),
    method<nodes>("nodes", S),
    method<edges>("edges", S),
    method<node_ids>("node_ids", S),
    method<edge_ids>("edge_ids", S),
    method<node_count>("node_count", S),
    method<edge_count>("edge_count", S),
    method<nodes_with_label>("nodes_with_label", S),
    method<edges_by_type>("edges_by_type", S),
    method<nodes_with_property>("nodes_with_property", S),
    method<edges_with_property>("edges_with_property", S),
};

}  // namespace

void add_entity_methods(MethodList& graph, MethodList& snapshot) {
    graph.add<GraphClass, kWrites>();
    graph.add<GraphClass, kReads>();
    snapshot.add<SnapshotClass, kReads>();
}

}  // namespace qm::py
