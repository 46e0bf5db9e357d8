// The GraphSnapshot class: a thread-bound, read-only holder of one moment of a graph.
#include "py_api/binding_messages.hpp"
#include "py_api/errors.hpp"
#include "py_api/graph_methods.hpp"
#include "py_api/handles.hpp"
#include "py_api/methods.hpp"
#include "py_api/module_state.hpp"
#include "py_api/types.hpp"

namespace qm::py {

namespace {

void snapshot_dealloc(PyObject* self) {
    auto* s = reinterpret_cast<SnapshotObject*>(self);
    PyTypeObject* type = Py_TYPE(self);
    if (s->handle.thread != current_thread_token()) {
        PyObject* exc = PyErr_GetRaisedException();
        raise_runtime_error(msg::unsendable_drop(SnapshotClass::kTypeName));
        PyErr_WriteUnraisable(nullptr);
        PyErr_SetRaisedException(exc);
    } else {
        delete s->snapshot;
    }
    type->tp_free(self);
    Py_DECREF(type);
}

}  // namespace

PyObject* make_snapshot(PyObject* any, Snapshot snapshot) {
    ModuleState* st = state_of(any);
    auto* type = reinterpret_cast<PyTypeObject*>(st->snapshot_type);
    auto owned = std::make_unique<Snapshot>(std::move(snapshot));
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    auto* s = reinterpret_cast<SnapshotObject*>(self);
    s->snapshot = owned.release();
    s->handle = new_handle_state();
    return self;
}

PyObject* make_snapshot(PyObject* any, GraphCore core) {
    LiveGraph graph(std::move(core));
    return make_snapshot(any, graph.snapshot());
}

PyObject* make_snapshot_type(PyObject* module) {
    PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(snapshot_dealloc)},
        {0, nullptr},
    };
    PyType_Spec spec = {"_quillmere.GraphSnapshot", sizeof(SnapshotObject), 0,
                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
                        slots};
    return new_class(module, spec, method_lists().snapshot);
}

}  // namespace qm::py
