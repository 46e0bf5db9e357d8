// The inference engine's message texts (errors and warnings), in one place so every entry
// point words them the same way.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm::inference::msg {

std::string factor_table_not_found(std::uint64_t factor_id);
std::string variable_not_in_factor(std::uint64_t variable_id, std::uint64_t factor_id);
std::string large_active_subgraph(std::uint64_t variables, std::uint64_t factors, std::uint64_t nodes);
std::string did_not_converge(std::uint64_t max_iters);
std::string used_iterations(std::uint64_t iterations, std::uint64_t max_iters);

inline constexpr std::string_view kTolerance = "tolerance must be finite and non-negative";
inline constexpr std::string_view kDamping = "damping must be between 0.0 and 1.0";
inline constexpr std::string_view kSeedValue = "seed probabilities must be finite and non-negative";
inline constexpr std::string_view kNoMass = "distribution must have positive finite mass";
inline constexpr std::string_view kTruncated =
    "active subgraph was truncated by max_nodes or max_factors limits";

}  // namespace qm::inference::msg
