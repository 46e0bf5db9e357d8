// Constructors of the module's classes and functions, called once per module execution;
// module.cpp lists the classes in the order the module adds them.
#pragma once

#include "py_api/pyref.hpp"

namespace qm::py {

// Adds the module's functions (module_functions.cpp).
int add_module_functions(PyObject* module);
PyObject* make_graph_type(PyObject* module);
PyObject* make_snapshot_type(PyObject* module);
PyObject* make_cypher_result_type(PyObject* module);
PyObject* make_transaction_type(PyObject* module);
PyObject* make_node_type(PyObject* module);
PyObject* make_edge_type(PyObject* module);
PyObject* make_variable_type(PyObject* module);
PyObject* make_factor_type(PyObject* module);
PyObject* make_evidence_type(PyObject* module);
PyObject* make_trace_type(PyObject* module);

}  // namespace qm::py
