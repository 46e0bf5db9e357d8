// Module `_quillmere`: multi-phase initialisation, module state, and the registration
// of every class in the order dir(module) shows them.
#include "py_api/module_state.hpp"
#include "py_api/errors.hpp"
#include "py_api/types.hpp"

namespace qm::py {

namespace {

// A class registered before its subsystem exists: present, not instantiable, with nothing
// that pretends to work.
PyObject* make_placeholder_type(PyObject* module, const char* name) {
    PyType_Slot slots[] = {{0, nullptr}};
    PyType_Spec spec = {name, sizeof(PyObject), 0,
                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
                        slots};
    return PyType_FromModuleAndSpec(module, &spec, nullptr);
}

struct TypeEntry {
    const char* name;                     // the qualified name, for a placeholder
    PyObject* ModuleState::*slot;         // where the module keeps the type object
    PyObject* (*make)(PyObject* module);  // nullptr: not built yet, registered as a placeholder
};

// The module's classes in the order they are added; adding a class is one line here.
constexpr TypeEntry kTypes[] = {
    {"_quillmere.Graph", &ModuleState::graph_type, make_graph_type},
    {"_quillmere.GraphSnapshot", &ModuleState::snapshot_type, make_snapshot_type},
    {"_quillmere.CypherResult", &ModuleState::cypher_result_type, make_cypher_result_type},
    {"_quillmere.GraphTransaction", &ModuleState::transaction_type, make_transaction_type},
    {"_quillmere.Node", &ModuleState::node_type, make_node_type},
    {"_quillmere.Edge", &ModuleState::edge_type, make_edge_type},
    {"_quillmere.Variable", &ModuleState::variable_type, make_variable_type},
    {"_quillmere.Factor", &ModuleState::factor_type, make_factor_type},
    {"_quillmere.Evidence", &ModuleState::evidence_type, make_evidence_type},
    {"_quillmere.Trace", &ModuleState::trace_type, make_trace_type},
};

int module_traverse(PyObject* module, visitproc visit, void* arg) {
    ModuleState* st = state_of_module(module);
    if (!st) return 0;
    for (const TypeEntry& t : kTypes) Py_VISIT(st->*t.slot);
    return 0;
}

int module_clear(PyObject* module) {
    ModuleState* st = state_of_module(module);
    if (!st) return 0;
    for (const TypeEntry& t : kTypes) Py_CLEAR(st->*t.slot);
    return 0;
}

void module_free(void* module) { module_clear(static_cast<PyObject*>(module)); }

int module_exec(PyObject* module) {
    try {
        ModuleState* st = state_of_module(module);
        if (PyModule_AddStringConstant(module, "__version__", "0.1.0") < 0) return -1;
        if (add_module_functions(module) < 0) return -1;
        for (const TypeEntry& t : kTypes) {
            PyObject* type = t.make ? t.make(module) : make_placeholder_type(module, t.name);
            if (!type) return -1;
            st->*t.slot = type;
            if (PyModule_AddType(module, reinterpret_cast<PyTypeObject*>(type)) < 0) return -1;
        }
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
