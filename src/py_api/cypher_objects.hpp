// The Python objects of the Cypher surface: CypherResult (an independent copy of one
// statement's result) and GraphTransaction (a transaction over a Graph's cell).
#pragma once

#include "py_api/pyref.hpp"

#include <memory>

#include "cypher/executor.hpp"
#include "py_api/handles.hpp"
#include "py_api/module_state.hpp"

namespace qm::py {

PyObject* make_cypher_result(ModuleState* st, cypher::CypherResult result);
// A new transaction over the cell, which must not be exclusively borrowed.
PyObject* make_transaction(ModuleState* st, std::shared_ptr<GraphCell> cell, const GraphCore& live, bool write);

}  // namespace qm::py
