#include "cypher/messages.hpp"

#include "core/messages.hpp"

namespace qm::cypher::msg {

std::string unclosed_delimiter(char open) { return std::string("unclosed delimiter ") + open; }
std::string expected_quoted_string(std::string_view text) { return "expected quoted string, got " + quoted(text); }
std::string invalid_identifier(std::string_view text) { return "invalid identifier " + quoted(text); }
std::string property_entry_requires_colon(std::string_view entry) {
    return "property map entry requires ':' in " + quoted(entry);
}
std::string expected_relationship(std::string_view rest) { return "expected relationship pattern near " + quoted(rest); }
std::string expected_bracket(std::string_view rest) { return "expected '[' near " + quoted(rest); }
std::string relationship_end(std::string_view rest) {
    return "relationship pattern must end with '-' or '->' near " + quoted(rest);
}
std::string expected_node(std::string_view rest) { return "expected node pattern near " + quoted(rest); }
std::string node_content(std::string_view rest) { return "unsupported node pattern content " + quoted(rest); }
std::string unsupported_predicate(std::string_view text) { return "unsupported WHERE predicate " + quoted(text); }
std::string needs_integer_literal(std::string_view clause) {
    return std::string(clause) + " requires a non-negative integer literal";
}
std::string unsupported_return_tail(std::string_view rest) { return "unsupported RETURN tail near " + quoted(rest); }
std::string nested_too_deeply(std::size_t limit) {
    return "Cypher expression nests lists more than " + std::to_string(limit) + " levels deep";
}
std::string pattern_too_long(std::size_t limit) {
    return "Cypher pattern has more than " + std::to_string(limit) + " relationships";
}
std::string missing_parameter(std::string_view name) { return "missing Cypher parameter $" + std::string(name); }
std::string relationship_already_bound(std::string_view name) {
    return "relationship variable " + quoted(name) + " is already bound";
}
std::string property_not_scalar(std::string_view key) {
    return "property " + quoted(key) + " must be a scalar Cypher property value";
}

}  // namespace qm::cypher::msg
