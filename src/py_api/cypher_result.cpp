// The CypherResult class: keys, records, summary and repr of one statement's result.
// Not bound to a thread: it holds only copies.
#include <new>
#include <string>

#include "core/messages.hpp"
#include "py_api/args.hpp"
#include "py_api/cypher_objects.hpp"
#include "py_api/cypher_values.hpp"
#include "py_api/errors.hpp"
#include "py_api/types.hpp"

namespace qm::py {

namespace {

struct ResultObject {
    PyObject_HEAD
    cypher::CypherResult result;
};

const cypher::CypherResult& res(PyObject* self) { return reinterpret_cast<ResultObject*>(self)->result; }

void result_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<ResultObject*>(self)->result.~CypherResult();
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* result_keys(PyObject* self, void*) { return py_text_list(res(self).keys); }

// One dict per row; a repeated column name keeps its later value.
PyObject* result_records(PyObject* self, void*) {
    try {
        const auto& r = res(self);
        ModuleState* st = state_of(self);
        if (!st) return nullptr;
        std::vector<PyRef> keys;
        keys.reserve(r.keys.size());
        for (const auto& k : r.keys) {
            keys.push_back(PyRef::steal(py_text(k)));
            if (!keys.back()) return nullptr;
        }
        return py_list(r.rows, [&](const std::vector<cypher::CypherValue>& row) -> PyObject* {
            PyRef dict = PyRef::steal(PyDict_New());
            if (!dict) return nullptr;
            for (std::size_t c = 0; c < row.size() && c < keys.size(); ++c) {
                PyRef v = PyRef::steal(cypher_value_to_py(st, row[c]));
                if (!v || PyDict_SetItem(dict.get(), keys[c].get(), v.get()) < 0) return nullptr;
            }
            return dict.release();
        });
    } catch (...) {
        return raise_from_current_exception();
    }
}

PyObject* result_summary(PyObject* self, void*) {
    const auto& r = res(self);
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict) return nullptr;
    auto put = [&](const char* key, PyObject* value) {
        PyRef v = PyRef::steal(value);
        return v && PyDict_SetItemString(dict.get(), key, v.get()) == 0;
    };
    if (!put("statement_type", py_text(r.statement_type)) || !put("nodes_created", py_u64(r.nodes_created)) ||
        !put("relationships_created", py_u64(r.relationships_created)) ||
        !put("properties_set", py_u64(r.properties_set)) || !put("rows", py_u64(r.rows.size())))
        return nullptr;
    return dict.release();
}

PyObject* result_repr(PyObject* self) {
    try {
        const auto& r = res(self);
        std::string text = "CypherResult(keys=[";
        for (std::size_t i = 0; i < r.keys.size(); ++i) {
            if (i) text += ", ";
            text += quoted(r.keys[i]);
        }
        text += "], rows=" + std::to_string(r.rows.size()) + ")";
        return py_text(text);
    } catch (...) {
        return raise_from_current_exception();
    }
}

PyGetSetDef kGetSet[] = {
    {"keys", result_keys, nullptr, nullptr, nullptr},
    {"records", result_records, nullptr, nullptr, nullptr},
    {"summary", result_summary, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

PyObject* make_cypher_result(ModuleState* st, cypher::CypherResult result) {
    auto* type = reinterpret_cast<PyTypeObject*>(st->cypher_result_type);
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    new (&reinterpret_cast<ResultObject*>(self)->result) cypher::CypherResult(std::move(result));
    return self;
}

PyObject* make_cypher_result_type(PyObject* module) {
    PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(result_dealloc)},
        {Py_tp_getset, kGetSet},
        {Py_tp_repr, reinterpret_cast<void*>(result_repr)},
        {0, nullptr},
    };
    PyType_Spec spec = {"_quillmere.CypherResult", sizeof(ResultObject), 0,
                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION, slots};
    return PyType_FromModuleAndSpec(module, &spec, nullptr);
}

}  // namespace qm::py
