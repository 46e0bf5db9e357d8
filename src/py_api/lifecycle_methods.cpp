// Graph methods over the graph's life: copies, refresh from the file, compaction.
#include "py_api/errors.hpp"
#include "py_api/graph_methods.hpp"
#include "py_api/handles.hpp"
#include "py_api/methods.hpp"

namespace qm::py {

namespace {

PyObject* snapshot(Call& c) {
    GraphCore* g = c.core();
    if (!g) return nullptr;
    return make_snapshot(c.self(), g->snapshot());
}

PyObject* compact(Call& c) {
    GraphCore* g = c.core();
    if (!g) return nullptr;
    auto status = g->compact_segments();
    if (!status) return raise_value_error(status.error());
    Py_RETURN_NONE;
}

// The whole graph is replaced; records handed out earlier stay valid as copies.
PyObject* refresh(Call& c) {
    GraphCore* g = c.core();
    if (!g) return nullptr;
    auto status = g->refresh();
    if (!status) return raise_value_error(status.error());
    Py_RETURN_NONE;
}

constexpr MethodDef kLifecycle[] = {
    method<compact>("compact", Borrow::Exclusive),
    method<refresh>("refresh", Borrow::Exclusive),
    method<snapshot>("snapshot", Borrow::Shared),
};

}  // namespace

void add_lifecycle_methods(MethodList& graph, MethodList&) { graph.add<GraphClass, kLifecycle>(); }

}  // namespace qm::py
