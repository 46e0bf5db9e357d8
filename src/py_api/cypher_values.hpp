// Cypher values between Python and the engine: parameters in, result values out.
#pragma once

#include "py_api/pyref.hpp"

#include <string>

#include "cypher/executor.hpp"
#include "py_api/args.hpp"
#include "py_api/module_state.hpp"
#include "py_api/params.hpp"

namespace qm::py {

// None gives no parameters; otherwise a dict with str keys. False with the error set.
// Runs no Python code; nesting deeper than the toolkit's bound raises RecursionError.
bool params_from_py(PyObject* dict_or_none, cypher::Params& out);
PyObject* cypher_value_to_py(ModuleState* st, const cypher::CypherValue& value);

// The arguments of every method that runs a statement.
struct StatementArgs {
    std::string query;
    DictArg parameters;  // read by params_from_py once the statement is due to run
    static constexpr auto params = declare(param("query", &StatementArgs::query),
                                           param("parameters", &StatementArgs::parameters, "None"));
};

}  // namespace qm::py
