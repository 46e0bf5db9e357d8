// The query dictionary from Python into a QuerySpec, and the schema and rows back out.
// The dictionary is read to a fixed depth (spec, elements, filters, scalar or flat list),
// so no input, however nested or self-referring, makes the reading recurse.
#pragma once

#include "py_api/pyref.hpp"

#include "query/query_executor.hpp"
#include "query/query_schema.hpp"
#include "query/query_spec.hpp"

namespace qm::py {

// False with the error set: ValueError with the query language's messages, or the property
// value conversion's own error (OverflowError for an int beyond 64 bits).
bool query_spec_from_py(PyObject* spec, QuerySpec& out);
PyObject* query_schema_to_py();
// A new list with one dict per row, keys inserted in the rows' column order.
PyObject* query_rows_to_py(const QueryRows& rows);

}  // namespace qm::py
