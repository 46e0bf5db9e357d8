// GraphStore: everything the engine asks of persistent storage, in one interface.
// GraphCore owns at most one store and never issues SQL itself.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/records.hpp"
#include "core/result.hpp"
#include "core/segment.hpp"

namespace qm {

class GraphStore {
public:
    virtual ~GraphStore() = default;

    [[nodiscard]] virtual Status insert_nodes(std::span<const NodeRecord> nodes) = 0;
    [[nodiscard]] virtual Status insert_edges(std::span<const EdgeRecord> edges) = 0;
    [[nodiscard]] virtual Status insert_graph_records(std::span<const NodeRecord> nodes,
                                                      std::span<const EdgeRecord> edges) = 0;
    [[nodiscard]] virtual Status insert_variable(const VariableRecord& record) = 0;
    [[nodiscard]] virtual Status insert_factor(const FactorRecord& record) = 0;
    [[nodiscard]] virtual Status insert_factor_table(const FactorTableRecord& record) = 0;
    [[nodiscard]] virtual Status insert_evidence(const EvidenceRecord& record) = 0;
    [[nodiscard]] virtual Status insert_trace(const TraceRecord& record) = 0;
    [[nodiscard]] virtual Result<std::vector<NodeRecord>> load_nodes() = 0;
    [[nodiscard]] virtual Result<std::vector<EdgeRecord>> load_edges() = 0;
    [[nodiscard]] virtual Result<std::vector<VariableRecord>> load_variables() = 0;
    [[nodiscard]] virtual Result<std::vector<FactorRecord>> load_factors() = 0;
    [[nodiscard]] virtual Result<std::vector<FactorTableRecord>> load_factor_tables() = 0;
    [[nodiscard]] virtual Result<std::vector<std::pair<std::uint64_t, std::vector<double>>>>
    load_posteriors() = 0;
    [[nodiscard]] virtual Status upsert_posterior(std::uint64_t variable_id,
                                                  std::span<const double> values) = 0;
    [[nodiscard]] virtual Result<std::vector<EvidenceRecord>> load_evidence() = 0;
    [[nodiscard]] virtual Result<std::vector<TraceRecord>> load_traces() = 0;
    // Never an error: an unusable cache is simply absent.
    virtual std::optional<ComputeSegment> load_segment(std::uint64_t node_count,
                                                       std::uint64_t edge_count) = 0;
    [[nodiscard]] virtual Status save_segment(const ComputeSegment& segment,
                                              std::uint64_t node_count,
                                              std::uint64_t edge_count) = 0;
    [[nodiscard]] virtual Result<std::uint64_t> current_op_seq() = 0;
    virtual std::string path() const = 0;
};

}  // namespace qm
