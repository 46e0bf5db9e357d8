// Per-module state: the type objects created from specs at module execution.
#pragma once

#include "py_api/pyref.hpp"

namespace qm::py {

struct ModuleState {
    PyObject* graph_type = nullptr;
    PyObject* snapshot_type = nullptr;
    PyObject* cypher_result_type = nullptr;
    PyObject* transaction_type = nullptr;
    PyObject* node_type = nullptr;
    PyObject* edge_type = nullptr;
    PyObject* variable_type = nullptr;
    PyObject* factor_type = nullptr;
    PyObject* evidence_type = nullptr;
    PyObject* trace_type = nullptr;
};

extern PyModuleDef kModuleDef;

// The state of the module that defined `type` (one of our heap types).
ModuleState* state_of_type(PyTypeObject* type);
inline ModuleState* state_of(PyObject* self) { return state_of_type(Py_TYPE(self)); }
ModuleState* state_of_module(PyObject* module);

// The panic exception class, created on first use, derived from BaseException only.
PyObject* panic_exception_type();

}  // namespace qm::py
