// The texts of the structured query language: conversion of a query dictionary, validation
// and execution. Quoted parts use the system's double-quoted form.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm::qmsg {

inline constexpr std::string_view kSpecNotDict = "query spec must be a dict";
inline constexpr std::string_view kMatchNotList = "query field 'match' must be a list";
inline constexpr std::string_view kMatchEmpty = "query field 'match' must contain at least one pattern element";
inline constexpr std::string_view kMatchEven = "query field 'match' must alternate node, edge, node";
inline constexpr std::string_view kWhereNotList = "query field 'where' must be a list";
inline constexpr std::string_view kInNeedsList = "property filter op 'in' requires a list value";
inline constexpr std::string_view kContainsNeedsString = "property filter op 'contains' requires a string value";
inline constexpr std::string_view kFilterKeyEmpty = "property filter key cannot be empty";
inline constexpr std::string_view kExecMatchEmpty = "query match must contain at least one pattern element";
inline constexpr std::string_view kExecAlternate = "query match must alternate node, edge, node";

std::string field_required(std::string_view field);
std::string element_not_dict(std::uint64_t position);
// "match element {p} must be {a node|an edge} pattern, not a {edge|node} pattern"
std::string element_swapped(std::uint64_t position, bool at_node_position);
std::string keys_not_strings(std::string_view context);
std::string unknown_field(std::string_view context, std::string_view key);
std::string field_not_string(std::uint64_t position, std::string_view field);
std::string optional_not_int(std::string_view field);
std::string optional_not_string(std::string_view field);
std::string optional_not_string_list(std::string_view field);
std::string optional_not_dict(std::string_view field);
std::string filter_not_dict(std::uint64_t position);
std::string bad_direction(std::string_view text);
std::string unknown_operator(std::string_view text);
std::string operator_needs_scalar(std::string_view display_name);
// "{what} cannot be empty" for "node alias", "edge alias", "return alias".
std::string alias_empty(std::string_view what);
std::string alias_both_kinds(std::string_view alias);
std::string return_not_declared(std::string_view alias);
std::string return_duplicated(std::string_view alias);

}  // namespace qm::qmsg
