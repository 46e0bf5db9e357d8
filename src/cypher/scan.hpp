// Text scanning for the Cypher parser. The parser does not tokenize: it finds keywords,
// characters and delimiters at top level (outside quotes and outside any parentheses,
// brackets or braces) and splits at top-level separators. Every routine borrows the text
// and hands back byte offsets or sub-views of it; only unquote and the identifier
// decoders build new strings.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.hpp"

namespace qm::cypher {

using Pos = std::size_t;

// Trims the full Unicode White_Space set from both ends (or one end).
std::string_view trim(std::string_view text);
std::string_view trim_start(std::string_view text);
std::string_view trim_end(std::string_view text);

// The whitespace of pattern scanning: tab, line feed, form feed, carriage return, space.
inline bool is_pattern_space(char c) {
    return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ';
}
inline bool is_ident_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}
inline char ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// Whether text at pos begins with word, ASCII case-insensitively.
bool starts_with_nocase(std::string_view text, std::string_view word, Pos pos = 0);
bool equals_nocase(std::string_view a, std::string_view b);

// Trimmed pieces between top-level commas; never empty.
std::vector<std::string_view> split_top_level(std::string_view text);
// Appends to out instead of allocating a new list.
void split_top_level(std::string_view text, std::vector<std::string_view>& out);
std::optional<Pos> find_char_top_level(std::string_view text, char ch);
// The character scan of predicates: the state is updated before the test.
std::optional<Pos> find_text_top_level(std::string_view text, std::string_view op);
std::optional<Pos> find_keyword_top_level_from(std::string_view text, std::string_view keyword, Pos start);
std::vector<std::string_view> split_keyword_top_level(std::string_view text, std::string_view keyword);
std::optional<Pos> next_clause_index(std::string_view text, Pos start, std::string_view k1, std::string_view k2);
[[nodiscard]] Result<Pos> matching_delimiter(std::string_view text, Pos at, char open, char close);
std::string_view trim_last_word(std::string_view text);
[[nodiscard]] Result<std::string> unquote(std::string_view text);
[[nodiscard]] Result<std::string> parse_identifier(std::string_view text);
[[nodiscard]] Result<std::string> parse_property_key(std::string_view text);

}  // namespace qm::cypher
