// Turning what the model holds into probabilities: a prior or posterior property map
// into a probability list, a state into a one-hot list, and a list into the label
// distribution (state name -> probability, ascending by name) that callers see.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/graph.hpp"
#include "core/result.hpp"
#include "core/view.hpp"

namespace qm::model {

// Ascending by state name (byte order).
using LabelDistribution = std::vector<std::pair<std::string, double>>;

[[nodiscard]] Result<std::uint64_t> state_index(const GraphView& g, std::uint64_t variable_id, std::string_view state);
[[nodiscard]] Result<std::vector<double>> hard_evidence(const GraphView& g, std::uint64_t variable_id,
                                                        std::string_view state);
// label ("prior" or "posterior") names the map in messages. State keys win; otherwise a
// binary variable reads "p"; otherwise the distribution is uniform.
[[nodiscard]] Result<std::vector<double>> distribution_from_properties(const GraphView& g, std::uint64_t variable_id,
                                                                       const PropertyMap& map,
                                                                       std::string_view label);
[[nodiscard]] Result<LabelDistribution> label_distribution(const GraphView& g, std::uint64_t variable_id,
                                                           std::span<const double> values);
// The best distribution known for the variable: the latest computed belief, else the
// creation-time posterior map when it is non-empty, else the prior map.
[[nodiscard]] Result<LabelDistribution> posterior(const GraphView& g, std::uint64_t variable_id);

}  // namespace qm::model
