// Graph and GraphSnapshot structured queries and the published query schema.
#include "py_api/errors.hpp"
#include "py_api/graph_methods.hpp"
#include "py_api/methods.hpp"
#include "py_api/query_convert.hpp"

namespace qm::py {

namespace {

PyObject* query_impl(Call& c) {
    QuerySpec spec;
    if (!query_spec_from_py(c.arg(0), spec)) return nullptr;
    GraphCore* g = c.core();
    if (!g) return nullptr;
    auto rows = query(*g, spec);
    if (!rows) return raise_value_error(rows.error());
    return query_rows_to_py(*rows);
}

PyObject* query_schema_impl(Call&) { return query_schema_to_py(); }

constexpr auto S = Borrow::Shared;

constexpr MethodDef kQueries[] = {
    {"query", "spec", S, query_impl},
    {"query_schema", "", S, query_schema_impl},
};

}  // namespace

void add_query_methods(std::vector<PyMethodDef>& graph, std::vector<PyMethodDef>& snapshot) {
    append_methods<kQueries, std::size(kQueries), Owner::Graph>(graph);
    append_methods<kQueries, std::size(kQueries), Owner::Snapshot>(snapshot);
}

}  // namespace qm::py
