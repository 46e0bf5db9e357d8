// Graph and GraphSnapshot traversal methods. propagate is Graph-only: a snapshot offers
// the walks that answer "what is near", not the scoring entry point.
#include <unordered_map>

#include "core/traversal.hpp"
#include "py_api/args.hpp"
#include "py_api/errors.hpp"
#include "py_api/graph_methods.hpp"
#include "py_api/methods.hpp"

namespace qm::py {

namespace {

PyObject* id_list_or_raise(const Result<std::vector<std::uint64_t>>& r) {
    if (!r) return raise_value_error(r.error());
    return py_u64_list(*r);
}

PyObject* neighbors_impl(Call& c) {
    std::uint64_t node = 0;
    std::string direction;
    std::optional<std::string> edge_type;
    if (!c.u64(0, node) || !c.text(1, direction) || !c.optional_text(2, edge_type)) return nullptr;
    GraphCore* g = c.core();
    if (!g) return nullptr;
    return id_list_or_raise(neighbors(*g, node, direction, edge_type));
}

PyObject* k_hop_impl(Call& c) {
    std::uint64_t start = 0, hops = 0;
    std::string direction;
    std::optional<std::string> edge_type;
    if (!c.u64(0, start) || !c.u64(1, hops) || !c.text(2, direction) || !c.optional_text(3, edge_type))
        return nullptr;
    GraphCore* g = c.core();
    if (!g) return nullptr;
    return id_list_or_raise(k_hop(*g, start, hops, direction, edge_type));
}

PyObject* frontier_impl(Call& c) {
    std::vector<std::uint64_t> starts;
    std::uint64_t steps = 0;
    std::string direction;
    std::optional<std::string> edge_type;
    if (!c.u64_list(0, starts) || !c.u64(1, steps) || !c.text(2, direction) ||
        !c.optional_text(3, edge_type))
        return nullptr;
    GraphCore* g = c.core();
    if (!g) return nullptr;
    return id_list_or_raise(frontier(*g, starts, steps, direction, edge_type));
}

// The seeds dict as (node, amount) pairs in the dict's own order. The items are copied out
// first, so keys whose __index__ runs Python code cannot disturb the walk over the dict.
// Distinct keys that name the same node collapse as a map would: the first position, the
// last value.
bool seeds_from_py(PyObject* o, std::string_view name, std::vector<Seed>& out) {
    if (!PyDict_Check(o)) {
        PyRef tn = PyRef::steal(PyType_GetName(Py_TYPE(o)));
        const char* text = tn ? PyUnicode_AsUTF8(tn.get()) : nullptr;
        if (!text) PyErr_Clear();
        raise_argument_type_error(name, std::string("'") + (text ? text : "object") +
                                            "' object cannot be converted to 'PyDict'");
        return false;
    }
    PyRef items = PyRef::steal(PyDict_Items(o));
    if (!items) return false;
    const Py_ssize_t n = PyList_GET_SIZE(items.get());
    std::vector<Seed> seeds;
    seeds.reserve(static_cast<std::size_t>(n));
    std::unordered_map<std::uint64_t, std::size_t> position;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* pair = PyList_GET_ITEM(items.get(), i);
        std::uint64_t node = 0;
        double amount = 0.0;
        if (!to_u64(PyTuple_GET_ITEM(pair, 0), name, node)) return false;
        if (!to_f64(PyTuple_GET_ITEM(pair, 1), name, amount)) return false;
        auto [it, fresh] = position.try_emplace(node, seeds.size());
        if (fresh) seeds.emplace_back(node, amount);
        else seeds[it->second].second = amount;
    }
    out = std::move(seeds);
    return true;
}

PyObject* propagate_impl(Call& c) {
    std::vector<Seed> seeds;
    std::uint64_t steps = 0;
    std::string edge_property;
    double damping = 0.0;
    std::optional<std::string> edge_type;
    if (!seeds_from_py(c.arg(0), c.name(0), seeds) || !c.u64(1, steps) || !c.text(2, edge_property) ||
        !c.f64(3, damping) || !c.optional_text(4, edge_type))
        return nullptr;
    GraphCore* g = c.core();
    if (!g) return nullptr;
    auto scores = propagate(*g, seeds, steps, edge_property, damping, edge_type);
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
    {"neighbors", R"(node_id, direction="out", edge_type=None)", S, neighbors_impl},
    {"k_hop", R"(start, hops, direction="out", edge_type=None)", S, k_hop_impl},
    {"frontier", R"(starts, steps, direction="out", edge_type=None)", S, frontier_impl},
};

constexpr MethodDef kScoring[] = {
    {"propagate", R"(seeds, steps, edge_property="probability", damping=1.0, edge_type=None)", S,
     propagate_impl},
};

}  // namespace

void add_traversal_methods(std::vector<PyMethodDef>& graph, std::vector<PyMethodDef>& snapshot) {
    append_methods<kWalks, std::size(kWalks), Owner::Graph>(graph);
    append_methods<kScoring, std::size(kScoring), Owner::Graph>(graph);
    append_methods<kWalks, std::size(kWalks), Owner::Snapshot>(snapshot);
}

}  // namespace qm::py
