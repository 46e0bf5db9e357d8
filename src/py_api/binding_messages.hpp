// The binding layer's own message texts: argument parsing, argument types, thread binding,
// borrows, property values, and the dict-shaped inputs (record dicts, batch jobs), so their
// wording lives in one place. Core, store and engine messages live in core/messages.hpp.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/messages.hpp"

namespace qm::py::msg {

// One catalogue as seen from the binding: msg::record_not_found is the core's.
using namespace qm::msg;

// ---- argument parsing (CPython's wording; `callee` is "Graph.get_node" or a function name)
std::string too_many_positional(std::string_view callee, std::size_t accepted, std::size_t given);
std::string unexpected_keyword(std::string_view callee, std::string_view keyword);
std::string multiple_values(std::string_view callee, std::string_view parameter);
// `names` already quoted and joined: "'a', 'b', and 'c'".
std::string missing_arguments(std::string_view callee, std::size_t count, std::string_view names);

// ---- argument types
std::string argument_error(std::string_view parameter, std::string_view reason);
std::string cannot_convert(std::string_view type_name, std::string_view target);
inline constexpr std::string_view kStrIsNotList = "Can't extract `str` to `Vec`";
std::string nested_too_deeply(int limit);

// ---- thread binding and borrows
std::string unsendable(std::string_view type_name);
std::string unsendable_drop(std::string_view type_name);
inline constexpr std::string_view kAlreadyBorrowed = "Already borrowed";
inline constexpr std::string_view kAlreadyMutablyBorrowed = "Already mutably borrowed";
// A method of a class without a graph asked for one: a fault in the binding, not the caller.
inline constexpr std::string_view kNoGraph = "method has no graph to take";
inline constexpr std::string_view kUnknownInternalError = "unknown internal error";

// ---- property values and maps
inline constexpr std::string_view kFloatNotFinite = "float property values must be finite";
inline constexpr std::string_view kPropertyValueType = "property values must be str, int, float, or bool";
inline constexpr std::string_view kPropertyKeyType = "property keys must be strings";
inline constexpr std::string_view kDictChangedSize = "dictionary changed size during iteration";

// ---- record dicts of add_nodes / add_edges ("node record 3", "edge record 0")
inline constexpr std::string_view kNodeRecordsNotList = "add_nodes records must be a list";
inline constexpr std::string_view kEdgeRecordsNotList = "add_edges records must be a list";
std::string record_not_dict(std::string_view kind, std::size_t index);
std::string record_keys_not_text(std::string_view kind, std::size_t index);
std::string record_unknown_field(std::string_view kind, std::size_t index, std::string_view field);
std::string record_missing(std::size_t index, std::string_view field);
std::string record_field_type(std::size_t index, std::string_view field, std::string_view noun);
std::string optional_record_field_type(std::string_view field, std::string_view noun);

// ---- compute_batch jobs
inline constexpr std::string_view kJobsNotList = "compute_batch jobs must be a list";
std::string job_not_dict(std::size_t index);
std::string job_missing(std::size_t index, std::string_view field);
std::string job_field_type(std::size_t index, std::string_view field, std::string_view noun);
std::string optional_field_type(std::string_view field, std::string_view noun);
std::string job_unknown_op(std::size_t index, std::string_view op);

}  // namespace qm::py::msg
