// The system's message texts. Wording lives here so every subsystem says the same thing
// the same way: ids in decimal, user-supplied texts in the double-quoted form.
#pragma once

#include <cstddef>
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

// Lookups, loads and checks.
std::string variable_not_found(std::uint64_t id);
std::string factor_not_found(std::uint64_t id);
std::string record_id_exists(std::string_view kind, std::uint64_t id);
std::string record_id_overflows(std::string_view kind);
std::string stored_id_beyond_rows(std::string_view kind, std::string_view table, std::uint64_t id);
std::string duplicate_table_variable(std::uint64_t id);
std::string factor_table_size(std::uint64_t actual, std::uint64_t expected);
std::string factor_table_exists(std::uint64_t factor_id);
std::string posterior_length(std::uint64_t variable_id);
std::string direction_invalid(std::string_view text);
std::string edge_weight_not_float(std::uint64_t edge_id, std::string_view key);
std::string edge_weight_out_of_range(std::uint64_t edge_id, std::string_view key);
// A batch job's failure: "job {index}: {message}".
std::string job_failed(std::size_t index, std::string_view message);

inline constexpr std::string_view kRefreshNeedsStore = "refresh is only available for SQLite-backed graphs";
inline constexpr std::string_view kTransactionConflict =
    "graph changed since transaction started; rollback and retry the transaction";
inline constexpr std::string_view kTableVariablesEmpty = "factor table variables cannot be empty";
inline constexpr std::string_view kTableCardinalityOverflow = "factor table cardinality overflows";
inline constexpr std::string_view kTableValuesRange = "factor table values must be finite and non-negative";
inline constexpr std::string_view kTableAllZero = "factor table cannot be all zero";
inline constexpr std::string_view kCpdChildAllZero = "CPD child distribution cannot be all zero";
inline constexpr std::string_view kCpdSum = "CPD child distributions must sum to 1.0";
inline constexpr std::string_view kDistributionMass = "distribution must have positive finite mass";
inline constexpr std::string_view kDampingRange = "damping must be between 0.0 and 1.0";
inline constexpr std::string_view kSeedProbabilities = "seed probabilities must be finite and non-negative";
inline constexpr std::string_view kToleranceRange = "tolerance must be finite and non-negative";

// Stored forms and the store.
std::string negative_sqlite_integer(std::int64_t value);
// A stored value whose SQLite type is not its column's (found and wanted are "integer", "text", ...).
std::string stored_column_type(std::string_view table, std::int64_t row_id, std::string_view column,
                               std::string_view found, std::string_view wanted);
std::string sqlite_integer_range(std::uint64_t value);
std::string not_a_database_file(std::string_view path);
std::string invalid_property_value(std::string_view type, std::string_view text);
std::string stored_float_not_finite(std::string_view text);
std::string unknown_value_type(std::string_view tag);
// what: "property line", "u64 value", "f64 value".
std::string invalid_encoded(std::string_view what, std::string_view text);
std::string encoded_f64_not_finite(std::string_view text);
// action: "create segment directory", "write segment file", "write segment manifest".
std::string segment_save_failed(std::string_view action, std::string_view path, std::string_view os_error);

inline constexpr std::string_view kTextHasNul = "text contains NUL byte";
inline constexpr std::string_view kPathHasNul = "SQLite path contains NUL byte";
inline constexpr std::string_view kSqlHasNul = "SQL contains NUL byte";
inline constexpr std::string_view kOpenFailed = "failed to open SQLite database";
inline constexpr std::string_view kUnexpectedRow = "SQLite statement returned a row unexpectedly";

}  // namespace msg
}  // namespace qm
