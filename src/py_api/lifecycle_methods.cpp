// Graph methods over the graph's life: copies, refresh from the file, compaction.
#include "py_api/errors.hpp"
#include "py_api/graph_methods.hpp"
#include "py_api/handles.hpp"
#include "py_api/methods.hpp"

namespace qm::py {

namespace {

// The live graph behind the handle; call after c.core() has borrowed it.
LiveGraph& live_graph(Call& c) { return reinterpret_cast<GraphObject*>(c.self())->cell->graph; }

// Bounds over the shared records, not a copy: microseconds whatever the graph's size.
PyObject* snapshot(Call& c) {
    if (!c.core()) return nullptr;
    return make_snapshot(c.self(), live_graph(c).snapshot());
}

PyObject* compact(Call& c) {
    GraphCore* g = c.core();
    if (!g) return nullptr;
    auto status = g->compact_segments();
    if (!status) return raise_value_error(status.error());
    Py_RETURN_NONE;
}

// Snapshots taken before keep answering as at their moment, whether the refresh appends
// or switches to a freshly loaded generation.
PyObject* refresh(Call& c) {
    if (!c.core()) return nullptr;
    auto status = live_graph(c).refresh();
    c.follow(&live_graph(c).core());
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
