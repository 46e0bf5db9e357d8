// Cypher values between Python and the engine: parameters in, result values out.
#pragma once

#include "py_api/pyref.hpp"

#include "cypher/executor.hpp"
#include "py_api/module_state.hpp"

namespace qm::py {

// None gives no parameters; otherwise a dict with str keys. False with the error set.
// Runs no Python code, and nesting is bounded by the interpreter's recursion limit.
bool params_from_py(PyObject* dict_or_none, cypher::Params& out);
PyObject* cypher_value_to_py(ModuleState* st, const cypher::CypherValue& value);

// The parameters argument of the Cypher methods: a dict or None, else TypeError.
bool check_params_arg(PyObject* o, const char* name);

}  // namespace qm::py
