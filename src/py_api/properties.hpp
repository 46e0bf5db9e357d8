// Property values and maps between Python and the engine, and the record dictionaries of
// the batch insertion methods. All failures are raised before the graph is touched.
#pragma once

#include "py_api/pyref.hpp"

#include <vector>

#include "core/records.hpp"
#include "core/values.hpp"
#include "py_api/params.hpp"

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
// Each record's type is numbered in types.
bool edge_records_from_py(PyObject* records, std::vector<NewEdgeRecord>& out, TextTable& types,
                          PropertyBatch& props);

// The records argument of add_nodes / add_edges with the batch their properties are staged in.
struct NodeRecords {
    std::vector<NewNodeRecord> records;
    PropertyBatch props;
};
struct EdgeRecords {
    std::vector<NewEdgeRecord> records;
    TextTable types;
    PropertyBatch props;
};

template <>
struct Converter<PropertyValue> {
    static constexpr std::string_view kNoun = "a str, int, float, or bool";
    static bool read(PyObject* o, PropertyValue& out) { return property_value_from_py(o, out); }
};
template <>
struct Converter<NodeRecords> {
    static bool convert(PyObject* o, std::string_view, NodeRecords& out) {
        return node_records_from_py(o, out.records, out.props);
    }
};
template <>
struct Converter<EdgeRecords> {
    static bool convert(PyObject* o, std::string_view, EdgeRecords& out) {
        return edge_records_from_py(o, out.records, out.types, out.props);
    }
};

}  // namespace qm::py
