// SqliteStore: the GraphStore over one SQLite connection. Writes are in
// store_writes.cpp, loads in store_loads.cpp, opening and the schema in sqlite_store.cpp.
#pragma once

#include <memory>
#include <optional>
#include <utility>
#include <string>

#include "core/store.hpp"
#include "sqlite/statement.hpp"

namespace qm {

class SqliteStore final : public GraphStore {
public:
    // Opens the database, applies the schema, records the storage format and completes the
    // property catalog. A failure leaves no connection behind.
    [[nodiscard]] static Result<std::unique_ptr<SqliteStore>> open(const std::string& path);

    Status insert_nodes(std::uint64_t first_id, std::span<const NewNodeRecord> nodes,
                        const PropertyBatch& props) override;
    Status insert_edges(std::uint64_t first_id, std::span<const NewEdgeRecord> edges, const TextTable& types,
                        const PropertyBatch& props) override;
    Status insert_graph_records(std::span<const NodeRecord> nodes,
                                std::span<const EdgeRecord> edges) override;
    Status insert_variable(const VariableRecord& record) override;
    Status insert_factor(const FactorRecord& record) override;
    Status insert_factor_table(const FactorTableRecord& record) override;
    Status insert_evidence(const EvidenceRecord& record) override;
    Status insert_trace(const TraceRecord& record) override;
    Status insert_factor_with_table(const FactorRecord& factor, const FactorTableRecord& table) override;
    Status upsert_posteriors(std::span<const std::pair<std::uint64_t, std::vector<double>>> entries) override;
    Result<std::vector<NodeRecord>> load_nodes() override;
    Result<std::vector<EdgeRecord>> load_edges() override;
    Result<std::vector<VariableRecord>> load_variables() override;
    Result<std::vector<FactorRecord>> load_factors() override;
    Result<std::vector<FactorTableRecord>> load_factor_tables() override;
    Result<std::vector<std::pair<std::uint64_t, std::vector<double>>>> load_posteriors() override;
    Status upsert_posterior(std::uint64_t variable_id, std::span<const double> values) override;
    Result<std::vector<EvidenceRecord>> load_evidence() override;
    Result<std::vector<TraceRecord>> load_traces() override;
    std::optional<ComputeSegment> load_segment(std::uint64_t node_count,
                                               std::uint64_t edge_count) override;
    Status save_segment(const ComputeSegment& segment, std::uint64_t node_count,
                        std::uint64_t edge_count) override;
    Result<std::uint64_t> current_op_seq() override;
    std::string path() const override;
    Result<std::unique_ptr<GraphStore>> reopen() const override;

    Status scan_nodes(const std::function<Status(NodeRecord&)>& f) override;
    Status scan_edges(const std::function<Status(EdgeRecord&)>& f) override;
    void guard_next_write(std::uint64_t seq) override { guard_ = seq; }
    std::optional<std::uint64_t> op_seq_after_write() override { return std::exchange(seq_after_write_, std::nullopt); }
    Status begin_read() override;
    void end_read() override;
    Result<std::vector<NodeRecord>> load_nodes_from(std::uint64_t first_id) override;
    Result<std::vector<EdgeRecord>> load_edges_from(std::uint64_t first_id) override;
    Result<std::vector<VariableRecord>> load_variables_from(std::uint64_t first_id) override;
    Result<std::vector<FactorRecord>> load_factors_from(std::uint64_t first_id) override;
    Result<std::vector<EvidenceRecord>> load_evidence_from(std::uint64_t first_id) override;
    Result<std::vector<TraceRecord>> load_traces_from(std::uint64_t first_id) override;
    Result<std::vector<std::pair<std::string, std::uint64_t>>> op_counts_since(std::uint64_t seq) override;

private:
    SqliteStore(std::string path, Connection conn) : path_(std::move(path)), conn_(std::move(conn)) {}

    // BEGIN IMMEDIATE, body, then COMMIT; ROLLBACK when the body fails. Checks the armed
    // staleness guard under the lock and notes the sequence before committing.
    template <class Body>
    Status logged_transaction(Body&& body);
    Result<std::uint64_t> read_op_seq();

    std::string path_;
    Connection conn_;
    std::optional<std::uint64_t> guard_;
    std::optional<std::uint64_t> seq_after_write_;
};

}  // namespace qm
