// Record objects handed to Python: detached copies with read-only attributes.
#pragma once

#include "py_api/pyref.hpp"

#include "core/records.hpp"
#include "py_api/module_state.hpp"

namespace qm::py {

PyObject* make_node(ModuleState* st, NodeRecord record);
PyObject* make_edge(ModuleState* st, EdgeRecord record);

}  // namespace qm::py
