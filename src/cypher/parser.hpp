// The Cypher parser: recursive descent straight over the text with the scanning routines,
// one function per grammar rule. The first error ends parsing and is returned unchanged.
// Only list literals nest; their depth is counted in one place against kMaxNesting, and a
// pattern may hold at most kMaxRelationships relationships, so no input can exhaust the
// stack here or in the matcher that recurses once per relationship.
#pragma once

#include <cstddef>
#include <string_view>
#include <utility>

#include "core/result.hpp"
#include "cypher/scan.hpp"
#include "cypher/statement.hpp"

namespace qm::cypher {

inline constexpr std::size_t kMaxNesting = 64;
inline constexpr std::size_t kMaxRelationships = 512;

[[nodiscard]] Result<Query> parse_query(std::string_view text);
[[nodiscard]] Result<Pattern> parse_pattern(std::string_view text);
[[nodiscard]] Result<std::pair<NodePattern, Pos>> parse_node_at(std::string_view text, Pos position);
[[nodiscard]] Result<Predicate> parse_predicate(std::string_view text);
[[nodiscard]] Result<Projection> parse_projection(std::string_view text);
[[nodiscard]] Result<ReturnItem> parse_return_item(std::string_view text);
[[nodiscard]] Result<Expr> parse_expr(std::string_view text);

}  // namespace qm::cypher
