// The text forms of composite record fields inside the database: escaped free text, the
// line-per-entry form of string lists and property maps, and the comma form of numeric
// lists. Encoders cannot fail; decoders return the first offending line's message.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.hpp"
#include "core/packed_props.hpp"
#include "core/values.hpp"

namespace qm {

// Backslash, tab, line feed and carriage return become \\, \t, \n, \r, so an escaped text
// can stand inside one tab-separated line.
std::string escape_field(std::string_view text);
void append_escaped(std::string& out, std::string_view text);
// Inverse of escape_field; an unknown escape keeps both characters. Never fails.
std::string unescape_field(std::string_view text);

std::string encode_list(std::span<const std::string> items);
std::vector<std::string> decode_list(std::string_view text);

// One "key<TAB>type<TAB>value" line per entry, keys in byte order.
std::string encode_map(const PropertyMap& map);
void append_encoded_map(std::string& out, const PropertyMap& map);
// One line of that form (without the line feed that separates entries).
void append_encoded_entry(std::string& out, std::string_view key, const ValueView& value);
[[nodiscard]] Result<PropertyMap> decode_map(std::string_view text);

std::string encode_u64_list(std::span<const std::uint64_t> values);
[[nodiscard]] Result<std::vector<std::uint64_t>> decode_u64_list(std::string_view text);

std::string encode_f64_list(std::span<const double> values);
[[nodiscard]] Result<std::vector<double>> decode_f64_list(std::string_view text);

// Calls f(line) for each line: a line feed ends a line, a carriage return right before it
// is dropped, and a final line feed starts no further line. Stops early when f returns false.
template <class F>
bool for_each_line(std::string_view text, F&& f) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t nl = text.find('\n', start);
        std::size_t end = nl == std::string_view::npos ? text.size() : nl;
        std::size_t stop = end;
        if (nl != std::string_view::npos && stop > start && text[stop - 1] == '\r') --stop;
        if (!f(text.substr(start, stop - start))) return false;
        if (nl == std::string_view::npos) break;
        start = nl + 1;
    }
    return true;
}

}  // namespace qm
