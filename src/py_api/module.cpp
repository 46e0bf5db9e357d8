// Module `_quillmere`: multi-phase initialisation, module state, and the registration
// of every class in its stated order.
#include "py_api/module_state.hpp"
#include "py_api/errors.hpp"
#include "py_api/types.hpp"

namespace qm::py {

namespace {

int module_traverse(PyObject* module, visitproc visit, void* arg) {
    ModuleState* st = state_of_module(module);
    if (!st) return 0;
    Py_VISIT(st->graph_type);
    Py_VISIT(st->snapshot_type);
    Py_VISIT(st->cypher_result_type);
    Py_VISIT(st->transaction_type);
    Py_VISIT(st->node_type);
    Py_VISIT(st->edge_type);
    Py_VISIT(st->variable_type);
    Py_VISIT(st->factor_type);
    Py_VISIT(st->evidence_type);
    Py_VISIT(st->trace_type);
    return 0;
}

int module_clear(PyObject* module) {
    ModuleState* st = state_of_module(module);
    if (!st) return 0;
    Py_CLEAR(st->graph_type);
    Py_CLEAR(st->snapshot_type);
    Py_CLEAR(st->cypher_result_type);
    Py_CLEAR(st->transaction_type);
    Py_CLEAR(st->node_type);
    Py_CLEAR(st->edge_type);
    Py_CLEAR(st->variable_type);
    Py_CLEAR(st->factor_type);
    Py_CLEAR(st->evidence_type);
    Py_CLEAR(st->trace_type);
    return 0;
}

void module_free(void* module) { module_clear(static_cast<PyObject*>(module)); }

int add_type(PyObject* module, PyObject** slot, PyObject* type) {
    if (!type) return -1;
    *slot = type;
    return PyModule_AddType(module, reinterpret_cast<PyTypeObject*>(type));
}

int module_exec(PyObject* module) {
    try {
        ModuleState* st = state_of_module(module);
        if (PyModule_AddStringConstant(module, "__version__", "0.1.0") < 0) return -1;
        if (add_module_functions(module) < 0) return -1;
        if (add_type(module, &st->graph_type, make_graph_type(module)) < 0) return -1;
        if (add_type(module, &st->snapshot_type, make_snapshot_type(module)) < 0) return -1;
        if (add_type(module, &st->cypher_result_type, make_cypher_result_type(module)) < 0) return -1;
        if (add_type(module, &st->transaction_type, make_transaction_type(module)) < 0) return -1;
        if (add_type(module, &st->node_type, make_node_type(module)) < 0) return -1;
        if (add_type(module, &st->edge_type, make_edge_type(module)) < 0) return -1;
        if (add_type(module, &st->variable_type, make_variable_type(module)) < 0) return -1;
        if (add_type(module, &st->factor_type, make_factor_type(module)) < 0) return -1;
        if (add_type(module, &st->evidence_type, make_evidence_type(module)) < 0) return -1;
        if (add_type(module, &st->trace_type, make_trace_type(module)) < 0) return -1;
        return 0;
    } catch (...) {
        raise_from_current_exception();
        return -1;
    }
}

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {0, nullptr},
};

}  // namespace

PyModuleDef kModuleDef = {
    PyModuleDef_HEAD_INIT,
    "_quillmere",
    nullptr,
    sizeof(ModuleState),
    nullptr,
    kSlots,
    module_traverse,
    module_clear,
    module_free,
};

ModuleState* state_of_module(PyObject* module) {
    return static_cast<ModuleState*>(PyModule_GetState(module));
}

ModuleState* state_of_type(PyTypeObject* type) {
    PyObject* module = PyType_GetModuleByDef(type, &kModuleDef);
    if (!module) return nullptr;
    return state_of_module(module);
}

PyObject* panic_exception_type() {
    // Shared by every instance of the module in the process, like the interpreter's own
    // exception classes; created the first time something needs it.
    static PyObject* type = nullptr;
    if (!type) {
        type = PyErr_NewException("_quillmere.PanicException", PyExc_BaseException, nullptr);
    }
    return type;
}

}  // namespace qm::py

PyMODINIT_FUNC PyInit__quillmere(void) { return PyModuleDef_Init(&qm::py::kModuleDef); }
