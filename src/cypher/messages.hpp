// The Cypher engine's message texts, in one place so the wording cannot drift between the
// parser, the executor and the writes. User texts appear in the double-quoted form.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qm::cypher::msg {

// Scanning.
std::string unclosed_delimiter(char open);
std::string expected_quoted_string(std::string_view text);
std::string invalid_identifier(std::string_view text);
std::string property_entry_requires_colon(std::string_view entry);
inline constexpr std::string_view kUnterminatedEscape = "unterminated string escape";
inline constexpr std::string_view kIdentifierEmpty = "identifier cannot be empty";
inline constexpr std::string_view kContentAfterPropertyMap = "unsupported pattern content after property map";

// Parsing.
std::string expected_relationship(std::string_view rest);
std::string expected_bracket(std::string_view rest);
std::string relationship_end(std::string_view rest);
std::string expected_node(std::string_view rest);
std::string node_content(std::string_view rest);
std::string unsupported_predicate(std::string_view text);
std::string needs_integer_literal(std::string_view clause);
std::string unsupported_return_tail(std::string_view rest);
std::string nested_too_deeply(std::size_t limit);
std::string pattern_too_long(std::size_t limit);
inline constexpr std::string_view kEmptyQuery = "Cypher query cannot be empty";
inline constexpr std::string_view kUnsupportedStatement =
    "unsupported Cypher statement; supported clauses are MATCH, OPTIONAL MATCH, RETURN, CREATE, MERGE, and UNION";
inline constexpr std::string_view kMatchNeedsReturn = "MATCH query requires RETURN";
inline constexpr std::string_view kBothArrows = "relationship pattern cannot use both '<-' and '->'";
inline constexpr std::string_view kMultipleTypes = "multiple relationship types are not yet supported";
inline constexpr std::string_view kEmptyExpression = "empty expression";
inline constexpr std::string_view kEmptyReturn = "RETURN requires at least one expression";

// Execution.
std::string missing_parameter(std::string_view name);
inline constexpr std::string_view kWriteNeedsTransaction = "write query requires a writable Graph transaction";
inline constexpr std::string_view kUnionColumns = "UNION queries must return the same columns";
inline constexpr std::string_view kAggregateOutsideReturn = "aggregate expression is only valid in RETURN";

// Writes, transactions and parameters.
std::string relationship_already_bound(std::string_view name);
std::string property_not_scalar(std::string_view key);
inline constexpr std::string_view kCreateUndirected = "CREATE requires directed relationship patterns";
inline constexpr std::string_view kCreateNeedsType = "CREATE relationships require a relationship type";
inline constexpr std::string_view kSnapshotReadOnly = "GraphSnapshot.cypher() cannot execute write queries";
inline constexpr std::string_view kTransactionInactive = "transaction is no longer active";
inline constexpr std::string_view kParameterKeys = "Cypher parameter keys must be strings";
inline constexpr std::string_view kParameterTypes =
    "Cypher parameters must be None, bool, int, float, str, list, or dict";
inline constexpr std::string_view kParameterFinite = "Cypher float parameters must be finite";
inline constexpr std::string_view kMapKeys = "Cypher map keys must be strings";

}  // namespace qm::cypher::msg
