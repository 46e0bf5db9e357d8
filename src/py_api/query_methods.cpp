// Graph and GraphSnapshot structured queries and the published query schema.
#include "py_api/errors.hpp"
#include "py_api/graph_methods.hpp"
#include "py_api/methods.hpp"
#include "py_api/query_convert.hpp"

namespace qm::py {

// The query dictionary is read in full before the graph is taken: reading it may run
// Python code (an id's __index__, a sequence's items).
template <>
struct Converter<QuerySpec> {
    static bool convert(PyObject* o, std::string_view, QuerySpec& out) { return query_spec_from_py(o, out); }
};

namespace {

struct QueryArgs {
    QuerySpec spec;
    static constexpr auto params = declare(param("spec", &QueryArgs::spec));
};

PyObject* query_impl(Call& c, QueryArgs& a) {
    const GraphView* g = c.view();
    if (!g) return nullptr;
    auto rows = query(*g, a.spec);
    if (!rows) return raise_value_error(rows.error());
    return query_rows_to_py(*rows);
}

PyObject* query_schema_impl(Call&) { return query_schema_to_py(); }

constexpr auto S = Borrow::Shared;

constexpr MethodDef kQueries[] = {
    method<query_impl>("query", S),
    method<query_schema_impl>("query_schema", S),
};

}  // namespace

void add_query_methods(MethodList& graph, MethodList& snapshot) {
    graph.add<GraphClass, kQueries>();
    snapshot.add<SnapshotClass, kQueries>();
}

}  // namespace qm::py
