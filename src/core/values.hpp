// PropertyValue and PropertyMap: the scalar every property holds and the map of them.
// A map keeps its entries sorted by key: stored forms sort keys anyway, and a fixed order
// makes every reported-first error and every dict handed out reproducible.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "core/result.hpp"

namespace qm {

// Alternative index == the kind's tag: 0 Bool, 1 Int, 2 Float, 3 String.
using PropertyValue = std::variant<bool, std::int64_t, double, std::string>;

enum class ValueKind : std::uint8_t { Bool = 0, Int = 1, Float = 2, String = 3 };

inline ValueKind kind_of(const PropertyValue& v) { return static_cast<ValueKind>(v.index()); }

// "bool", "int", "float", "string".
std::string_view type_name(ValueKind kind);
inline std::string_view type_name(const PropertyValue& v) { return type_name(kind_of(v)); }

// Shortest decimal text that reads back as the same double, always positional.
std::string format_double(double value);
std::string encoded_value(const PropertyValue& value);

// Strict decimal float literal (optional sign, digits with optional fraction and exponent,
// or inf/infinity/nan in any case); no surrounding whitespace.
std::optional<double> parse_f64(std::string_view text);
std::optional<double> as_f64(const PropertyValue& value);

class PropertyMap {
public:
    using Entry = std::pair<std::string, PropertyValue>;

    PropertyMap() = default;

    // Inserts or replaces the value under key.
    void set(std::string key, PropertyValue value);
    // Bulk building: append entries in any order, then finish() sorts them once and keeps
    // the last value of a repeated key. The map is unusable between the two.
    void append_unsorted(std::string key, PropertyValue value) {
        entries_.emplace_back(std::move(key), std::move(value));
    }
    void finish();
    const PropertyValue* find(std::string_view key) const;

    bool empty() const { return entries_.empty(); }
    std::size_t size() const { return entries_.size(); }
    auto begin() const { return entries_.begin(); }
    auto end() const { return entries_.end(); }
    void reserve(std::size_t n) { entries_.reserve(n); }
    bool operator==(const PropertyMap&) const = default;

private:
    std::vector<Entry> entries_;  // sorted by key, keys unique
};

// Empty keys and non-finite floats fail; the first offending entry in key order is reported.
[[nodiscard]] Status validate_properties(const PropertyMap& map);

}  // namespace qm
