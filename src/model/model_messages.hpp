// The probabilistic model's message texts, in one place so every operation that reads
// or writes model records words its failures the same way.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm::model::msg {

std::string variable_not_found(std::uint64_t id);
std::string factor_not_found(std::uint64_t id);
std::string duplicate_state(std::string_view state);
std::string states_required(std::string_view domain);
std::string duplicate_table_variable(std::uint64_t id);
std::string table_length(std::uint64_t given, std::uint64_t expected);
std::string variable_id_exists(std::uint64_t id);
std::string factor_id_exists(std::uint64_t id);
std::string factor_table_exists(std::uint64_t factor_id);
std::string evidence_id_exists(std::uint64_t id);
std::string trace_id_exists(std::uint64_t id);
std::string state_not_found(std::string_view state, std::uint64_t variable_id);
std::string distribution_length(std::uint64_t variable_id);
std::string posterior_length(std::uint64_t variable_id);
// label is "prior" or "posterior".
std::string state_not_numeric(std::string_view label, std::string_view state);
std::string values_not_finite(std::string_view label);
std::string binary_p_not_numeric(std::string_view label);
std::string binary_p_out_of_range(std::string_view label);

inline constexpr std::string_view kDomainEmpty = "domain cannot be empty";
inline constexpr std::string_view kFunctionEmpty = "function cannot be empty";
inline constexpr std::string_view kStatesEmpty = "variable states cannot be empty";
inline constexpr std::string_view kStateEmpty = "state cannot be empty";
inline constexpr std::string_view kTableVariablesEmpty = "factor table variables cannot be empty";
inline constexpr std::string_view kTableCardinalityOverflow = "factor table cardinality overflows";
inline constexpr std::string_view kTableValuesInvalid = "factor table values must be finite and non-negative";
inline constexpr std::string_view kTableAllZero = "factor table cannot be all zero";
inline constexpr std::string_view kCpdChunkZero = "CPD child distribution cannot be all zero";
inline constexpr std::string_view kCpdChunkSum = "CPD child distributions must sum to 1.0";
inline constexpr std::string_view kNoMass = "distribution must have positive finite mass";
inline constexpr std::string_view kVariableIdOverflow = "variable id overflows";
inline constexpr std::string_view kFactorIdOverflow = "factor id overflows";
inline constexpr std::string_view kEvidenceIdOverflow = "evidence id overflows";
inline constexpr std::string_view kTraceIdOverflow = "trace id overflows";

}  // namespace qm::model::msg
