// Property values and maps between Python and the engine, and the record dictionaries of
// the batch insertion methods. All failures are raised before the graph is touched.
#pragma once

#include "py_api/pyref.hpp"

#include <vector>

#include "core/records.hpp"
#include "core/values.hpp"

namespace qm::py {

// bool before int before float before str; anything else is refused.
bool property_value_from_py(PyObject* o, PropertyValue& out);
// None gives the empty map. Runs no Python code.
bool properties_from_py(PyObject* dict_or_none, PropertyMap& out);
PyObject* property_value_to_py(const PropertyValue& v);
PyObject* property_map_to_py(const PropertyMap& map);

// The records' properties are staged in props. Run before the graph is borrowed: label
// sequences and integer fields may run Python code.
bool node_records_from_py(PyObject* records, std::vector<NewNodeRecord>& out, PropertyBatch& props);
bool edge_records_from_py(PyObject* records, std::vector<NewEdgeRecord>& out, PropertyBatch& props);

}  // namespace qm::py
