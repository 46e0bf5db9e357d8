// Node and Edge: one file pair per concept would be finer, but the two differ only in
// their fields, so they share the object layout template below.
#include "py_api/records.hpp"

#include <new>
#include <string>

#include "core/messages.hpp"
#include "py_api/args.hpp"
#include "py_api/errors.hpp"
#include "py_api/properties.hpp"
#include "py_api/types.hpp"

namespace qm::py {

namespace {

template <class Record>
struct RecordObject {
    PyObject_HEAD
    Record record;
};

using NodeObject = RecordObject<NodeRecord>;
using EdgeObject = RecordObject<EdgeRecord>;

template <class Record>
void record_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<RecordObject<Record>*>(self)->record.~Record();
    type->tp_free(self);
    Py_DECREF(type);
}

template <class Record>
PyObject* make_record(PyObject* type_obj, Record record) {
    auto* type = reinterpret_cast<PyTypeObject*>(type_obj);
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    new (&reinterpret_cast<RecordObject<Record>*>(self)->record) Record(std::move(record));
    return self;
}

template <class Record>
const Record& rec(PyObject* self) {
    return reinterpret_cast<RecordObject<Record>*>(self)->record;
}

// ---- Node
PyObject* node_id(PyObject* s, void*) { return py_u64(rec<NodeRecord>(s).id); }
PyObject* node_external_id(PyObject* s, void*) { return py_text(rec<NodeRecord>(s).external_id); }
PyObject* node_labels(PyObject* s, void*) { return py_text_list(rec<NodeRecord>(s).labels); }
PyObject* node_properties(PyObject* s, void*) { return property_map_to_py(rec<NodeRecord>(s).properties); }

PyObject* node_repr(PyObject* s) {
    const NodeRecord& r = rec<NodeRecord>(s);
    std::string text = "Node(id=" + std::to_string(r.id) + ", external_id=" + quoted(r.external_id) +
                       ", labels=[";
    for (std::size_t i = 0; i < r.labels.size(); ++i) {
        if (i) text += ", ";
        text += quoted(r.labels[i]);
    }
    text += "])";
    return py_text(text);
}

PyGetSetDef kNodeGetSet[] = {
    {"id", node_id, nullptr, nullptr, nullptr},
    {"external_id", node_external_id, nullptr, nullptr, nullptr},
    {"labels", node_labels, nullptr, nullptr, nullptr},
    {"properties", node_properties, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ---- Edge
PyObject* edge_id(PyObject* s, void*) { return py_u64(rec<EdgeRecord>(s).id); }
PyObject* edge_source(PyObject* s, void*) { return py_u64(rec<EdgeRecord>(s).source); }
PyObject* edge_target(PyObject* s, void*) { return py_u64(rec<EdgeRecord>(s).target); }
PyObject* edge_type(PyObject* s, void*) { return py_text(rec<EdgeRecord>(s).edge_type); }
PyObject* edge_properties(PyObject* s, void*) { return property_map_to_py(rec<EdgeRecord>(s).properties); }

PyObject* edge_repr(PyObject* s) {
    const EdgeRecord& r = rec<EdgeRecord>(s);
    std::string text = "Edge(id=" + std::to_string(r.id) + ", source=" + std::to_string(r.source) +
                       ", target=" + std::to_string(r.target) + ", edge_type=" + quoted(r.edge_type) + ")";
    return py_text(text);
}

PyGetSetDef kEdgeGetSet[] = {
    {"id", edge_id, nullptr, nullptr, nullptr},
    {"source", edge_source, nullptr, nullptr, nullptr},
    {"target", edge_target, nullptr, nullptr, nullptr},
    {"edge_type", edge_type, nullptr, nullptr, nullptr},
    {"properties", edge_properties, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr unsigned long kRecordFlags =
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION;

template <class Record>
PyObject* make_record_type(PyObject* module, const char* name, PyGetSetDef* getset, reprfunc repr) {
    PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(record_dealloc<Record>)},
        {Py_tp_getset, getset},
        {Py_tp_repr, reinterpret_cast<void*>(repr)},
        {0, nullptr},
    };
    PyType_Spec spec = {name, sizeof(RecordObject<Record>), 0, kRecordFlags, slots};
    return PyType_FromModuleAndSpec(module, &spec, nullptr);
}

}  // namespace

PyObject* make_node(ModuleState* st, NodeRecord record) {
    return make_record(st->node_type, std::move(record));
}

PyObject* make_edge(ModuleState* st, EdgeRecord record) {
    return make_record(st->edge_type, std::move(record));
}

PyObject* make_node_type(PyObject* m) {
    return make_record_type<NodeRecord>(m, "_quillmere.Node", kNodeGetSet, node_repr);
}
PyObject* make_edge_type(PyObject* m) {
    return make_record_type<EdgeRecord>(m, "_quillmere.Edge", kEdgeGetSet, edge_repr);
}

}  // namespace qm::py
