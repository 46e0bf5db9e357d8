// Graph methods for creating nodes and edges and looking them up.
#include "py_api/args.hpp"
#include "py_api/errors.hpp"
#include "py_api/graph_methods.hpp"
#include "py_api/methods.hpp"
#include "py_api/properties.hpp"
#include "py_api/records.hpp"

namespace qm::py {

namespace {

// The property dict of add_node / add_edge: a dict or None, converted without running
// Python code, after the graph is taken.
bool property_arg(Call& c, std::size_t i, PropertyMap& out) {
    PyObject* o = c.arg(i);
    if (o != Py_None && !PyDict_Check(o)) {
        PyRef name = PyRef::steal(PyType_GetName(Py_TYPE(o)));
        const char* tn = name ? PyUnicode_AsUTF8(name.get()) : nullptr;
        if (!tn) PyErr_Clear();
        raise_argument_type_error(c.name(i), std::string("'") + (tn ? tn : "object") +
                                                 "' object cannot be converted to 'PyDict'");
        return false;
    }
    return properties_from_py(o, out);
}

PyObject* add_node(Call& c) {
    std::optional<std::string> external_id;
    std::vector<std::string> labels;
    if (!c.optional_text(0, external_id) || !c.text_list(1, labels)) return nullptr;
    if (!c.is_none(2) && !PyDict_Check(c.arg(2))) {
        PropertyMap unused;
        return property_arg(c, 2, unused) ? nullptr : nullptr;
    }
    GraphCore* g = c.core();
    if (!g) return nullptr;
    PropertyMap props;
    if (!property_arg(c, 2, props)) return nullptr;
    auto id = g->add_node(std::move(external_id), std::move(labels), std::move(props));
    if (!check(id)) return nullptr;
    return py_u64(*id);
}

PyObject* add_edge(Call& c) {
    std::uint64_t source = 0, target = 0;
    std::string edge_type;
    if (!c.u64(0, source) || !c.u64(1, target) || !c.text(2, edge_type)) return nullptr;
    if (!c.is_none(3) && !PyDict_Check(c.arg(3))) {
        PropertyMap unused;
        return property_arg(c, 3, unused) ? nullptr : nullptr;
    }
    GraphCore* g = c.core();
    if (!g) return nullptr;
    PropertyMap props;
    if (!property_arg(c, 3, props)) return nullptr;
    auto id = g->add_edge(source, target, std::move(edge_type), std::move(props));
    if (!check(id)) return nullptr;
    return py_u64(*id);
}

PyObject* add_nodes(Call& c) {
    std::vector<NewNodeRecord> records;
    PropertyBatch props;
    if (!node_records_from_py(c.arg(0), records, props)) return nullptr;
    GraphCore* g = c.core();
    if (!g) return nullptr;
    auto ids = g->add_nodes(std::move(records), props);
    if (!check(ids)) return nullptr;
    return py_u64_list(*ids);
}

PyObject* add_edges(Call& c) {
    std::vector<NewEdgeRecord> records;
    PropertyBatch props;
    if (!edge_records_from_py(c.arg(0), records, props)) return nullptr;
    GraphCore* g = c.core();
    if (!g) return nullptr;
    auto ids = g->add_edges(std::move(records), props);
    if (!check(ids)) return nullptr;
    return py_u64_list(*ids);
}

PyObject* get_node(Call& c) {
    std::uint64_t id = 0;
    if (!c.u64(0, id)) return nullptr;
    GraphCore* g = c.core();
    if (!g) return nullptr;
    auto rec = g->get_node(id);
    if (!rec) return raise_not_found("node", id);
    return make_node(c.state(), std::move(*rec));
}

PyObject* get_edge(Call& c) {
    std::uint64_t id = 0;
    if (!c.u64(0, id)) return nullptr;
    GraphCore* g = c.core();
    if (!g) return nullptr;
    auto rec = g->get_edge(id);
    if (!rec) return raise_not_found("edge", id);
    return make_edge(c.state(), std::move(*rec));
}

PyObject* get_node_id(Call& c) {
    std::string external_id;
    if (!c.text(0, external_id)) return nullptr;
    GraphCore* g = c.core();
    if (!g) return nullptr;
    auto id = g->get_node_id(external_id);
    if (!id) Py_RETURN_NONE;
    return py_u64(*id);
}

PyObject* nodes(Call& c) {
    GraphCore* g = c.core();
    if (!g) return nullptr;
    ModuleState* st = c.state();
    return py_list(g->node_ids(), [&](std::uint64_t id) { return make_node(st, *g->get_node(id)); });
}

PyObject* edges(Call& c) {
    GraphCore* g = c.core();
    if (!g) return nullptr;
    ModuleState* st = c.state();
    return py_list(g->edge_ids(), [&](std::uint64_t id) { return make_edge(st, *g->get_edge(id)); });
}

PyObject* node_ids(Call& c) {
    GraphCore* g = c.core();
    return g ? py_u64_list(g->node_ids()) : nullptr;
}

PyObject* edge_ids(Call& c) {
    GraphCore* g = c.core();
    return g ? py_u64_list(g->edge_ids()) : nullptr;
}

PyObject* node_count(Call& c) {
    GraphCore* g = c.core();
    return g ? py_u64(g->node_count()) : nullptr;
}

PyObject* edge_count(Call& c) {
    GraphCore* g = c.core();
    return g ? py_u64(g->edge_count()) : nullptr;
}

PyObject* nodes_with_label(Call& c) {
    std::string label;
    if (!c.text(0, label)) return nullptr;
    GraphCore* g = c.core();
    return g ? py_u64_list(g->nodes_with_label(label)) : nullptr;
}

PyObject* edges_by_type(Call& c) {
    std::string type;
    if (!c.text(0, type)) return nullptr;
    GraphCore* g = c.core();
    return g ? py_u64_list(g->edges_by_type(type)) : nullptr;
}

// key text, then value None (key lookup) or a property value (value lookup).
bool property_query(Call& c, std::string& key, std::optional<PropertyValue>& value) {
    if (!c.text(0, key)) return false;
    if (c.is_none(1)) return true;
    PropertyValue v;
    if (!property_value_from_py(c.arg(1), v)) return false;
    value = std::move(v);
    return true;
}

PyObject* nodes_with_property(Call& c) {
    std::string key;
    std::optional<PropertyValue> value;
    if (!property_query(c, key, value)) return nullptr;
    GraphCore* g = c.core();
    return g ? py_u64_list(g->nodes_with_property(key, value)) : nullptr;
}

PyObject* edges_with_property(Call& c) {
    std::string key;
    std::optional<PropertyValue> value;
    if (!property_query(c, key, value)) return nullptr;
    GraphCore* g = c.core();
    return g ? py_u64_list(g->edges_with_property(key, value)) : nullptr;
}

constexpr auto X = Borrow::Exclusive;
constexpr auto S = Borrow::Shared;

constexpr MethodDef kWrites[] = {
    {"add_node", "external_id=None, labels=None, properties=None", X, add_node},
    {"add_edge", "source, target, edge_type, properties=None", X, add_edge},
    {"add_nodes", "records", X, add_nodes},
    {"add_edges", "records", X, add_edges},
};

constexpr MethodDef kReads[] = {
    {"get_node", "node_id", S, get_node},
    {"get_edge", "edge_id", S, get_edge},
    {"get_node_id", "external_id", S, get_node_id},
    {"nodes", "", S, nodes},
    {"edges", "", S, edges},
    {"node_ids", "", S, node_ids},
    {"edge_ids", "", S, edge_ids},
    {"node_count", "", S, node_count},
    {"edge_count", "", S, edge_count},
    {"nodes_with_label", "label", S, nodes_with_label},
    {"edges_by_type", "edge_type", S, edges_by_type},
    {"nodes_with_property", "key, value=None", S, nodes_with_property},
    {"edges_with_property", "key, value=None", S, edges_with_property},
};

}  // namespace

void add_entity_methods(std::vector<PyMethodDef>& graph, std::vector<PyMethodDef>& snapshot) {
    append_methods<kWrites, std::size(kWrites), Owner::Graph>(graph);
    append_methods<kReads, std::size(kReads), Owner::Graph>(graph);
    append_methods<kReads, std::size(kReads), Owner::Snapshot>(snapshot);
}

}  // namespace qm::py
