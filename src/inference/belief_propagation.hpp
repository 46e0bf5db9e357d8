// Belief propagation over the active region: the evidence map (stored records, then the
// caller's), the compiled region, residual-ordered damped message passing, the beliefs of
// the asked-about variables, warnings, diagnostics, and, on request, the beliefs persisted
// as the variables' latest posteriors together with a trace of the run.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "core/graph.hpp"
#include "core/result.hpp"
#include "inference/active_subgraph.hpp"
#include "inference/message_passing.hpp"
#include "model/distributions.hpp"

namespace qm::inference {

// An unsigned count, a flag or a real number.
using DiagnosticValue = std::variant<std::uint64_t, bool, double>;
// Ascending by key.
using Diagnostics = std::vector<std::pair<std::string, DiagnosticValue>>;

struct BeliefResult {
    std::vector<std::pair<std::uint64_t, model::LabelDistribution>> beliefs;  // ascending id
    ActiveSubgraph active;
    std::vector<std::string> warnings;  // the region's first, then the run's
    Diagnostics diagnostics;
    std::string schedule;
    std::uint64_t iterations = 0;
    std::uint64_t messages_updated = 0;
    double max_residual = 0.0;
    bool converged = false;
    std::optional<std::uint64_t> trace_id;  // set exactly when the run was persisted
};

// Runs inference for the query variables (the whole region's variables when empty). With
// persist, every belief is computed before anything is written; the posterior rows go to the
// store in one transaction and memory changes only after it committed, then the trace is
// recorded. Any failure before that write leaves the graph untouched.
[[nodiscard]] Result<BeliefResult> belief_propagation(GraphCore& g, std::span<const std::uint64_t> query_variables,
                                                      const EvidenceMap& evidence, std::uint64_t radius,
                                                      std::uint64_t max_iters, bool persist, double tolerance,
                                                      double damping);

Diagnostics belief_diagnostics(const ActiveSubgraph& active, std::uint64_t iterations, std::uint64_t max_iters,
                               std::uint64_t messages_updated, bool converged, double max_residual,
                               double tolerance, double damping);

PropertyMap trace_payload(const ActiveSubgraph& active, std::uint64_t iterations, std::uint64_t messages_updated,
                          bool converged, double max_residual);

}  // namespace qm::inference
