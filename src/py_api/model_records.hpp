// Variable, Factor, Evidence and Trace: detached copies of the model's records with
// read-only attributes and the interpreter's default representation.
#pragma once

#include "py_api/pyref.hpp"

#include "core/records.hpp"
#include "py_api/module_state.hpp"

namespace qm::py {

PyObject* make_variable(ModuleState* st, VariableRecord record);
PyObject* make_factor(ModuleState* st, FactorRecord record);
PyObject* make_evidence(ModuleState* st, EvidenceRecord record);
PyObject* make_trace(ModuleState* st, TraceRecord record);

}  // namespace qm::py
