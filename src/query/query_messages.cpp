#include "query/query_messages.hpp"

#include "core/messages.hpp"

namespace qm::qmsg {

std::string field_required(std::string_view field) { return "query field " + quoted(field) + " is required"; }
std::string element_not_dict(std::uint64_t position) {
    return "match element " + std::to_string(position) + " must be a dict";
}
std::string element_swapped(std::uint64_t position, bool at_node_position) {
    return "match element " + std::to_string(position) + " must be " +
           (at_node_position ? "a node pattern, not a edge pattern" : "an edge pattern, not a node pattern");
}
std::string keys_not_strings(std::string_view context) { return std::string(context) + " keys must be strings"; }
std::string unknown_field(std::string_view context, std::string_view key) {
    return std::string(context) + " has unknown field " + quoted(key);
}
std::string field_not_string(std::uint64_t position, std::string_view field) {
    return "match element " + std::to_string(position) + " field " + quoted(field) + " must be a string";
}
std::string optional_not_int(std::string_view field) {
    return "optional query field " + quoted(field) + " must be an int";
}
std::string optional_not_string(std::string_view field) {
    return "optional query field " + quoted(field) + " must be a string";
}
std::string optional_not_string_list(std::string_view field) {
    return "optional query field " + quoted(field) + " must be a list of strings";
}
std::string optional_not_dict(std::string_view field) {
    return "optional query field " + quoted(field) + " must be a dict";
}
std::string filter_not_dict(std::uint64_t position) {
    return "where filter " + std::to_string(position) + " must be a dict";
}
std::string bad_direction(std::string_view text) {
    return "query edge direction must be 'out', 'in', or 'both', got " + quoted(text);
}
std::string unknown_operator(std::string_view text) { return "unknown property filter op " + quoted(text); }
std::string operator_needs_scalar(std::string_view display_name) {
    return "property filter op " + std::string(display_name) + " requires a scalar value";
}
std::string alias_empty(std::string_view what) { return std::string(what) + " cannot be empty"; }
std::string alias_both_kinds(std::string_view alias) {
    return "alias " + quoted(alias) + " cannot refer to both nodes and edges";
}
std::string return_not_declared(std::string_view alias) {
    return "return alias " + quoted(alias) + " is not declared";
}
std::string return_duplicated(std::string_view alias) { return "return alias " + quoted(alias) + " is duplicated"; }

}  // namespace qm::qmsg
