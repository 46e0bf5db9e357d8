// The system's message texts. Wording lives here so every subsystem says the same thing
// the same way: ids in decimal, user-supplied texts in the double-quoted form.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

// The double-quoted form: backslash before '"' and '\', \t \r \n, other control
// characters as \u{hex}; a single quote stays as it is.
std::string quoted(std::string_view text);

namespace msg {

std::string node_not_found(std::uint64_t id);
std::string edge_not_found(std::uint64_t id);
std::string record_not_found(std::string_view kind, std::uint64_t id);
std::string external_id_exists(std::string_view external_id);
std::string node_id_exists(std::uint64_t id);
std::string edge_id_exists(std::uint64_t id);
std::string property_not_finite(std::string_view key);

inline constexpr std::string_view kLabelEmpty = "label cannot be empty";
inline constexpr std::string_view kEdgeTypeEmpty = "edge_type cannot be empty";
inline constexpr std::string_view kExternalIdEmpty = "external_id cannot be empty";
inline constexpr std::string_view kNodeIdOverflow = "node id overflows";
inline constexpr std::string_view kEdgeIdOverflow = "edge id overflows";
inline constexpr std::string_view kPropertyKeyEmpty = "property key cannot be empty";
inline constexpr std::string_view kStale =
    "SQLite graph has changed since this handle was opened; call refresh() before writing";

}  // namespace msg
}  // namespace qm
