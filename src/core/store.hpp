// The storage interfaces the core needs: the segment cache and GraphStore. The core owns
// these declarations and never constructs an implementation; whoever opens a graph hands
// one in (src/sqlite holds the only one). GraphCore owns at most one store and never
// issues SQL itself.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/records.hpp"
#include "core/result.hpp"
#include "core/segment.hpp"

namespace qm {

// The compacted adjacency saved beside the data, so opening a large graph need not
// rebuild it. Advisory: the core checks a loaded segment against the graph before use.
class SegmentCache {
public:
    virtual ~SegmentCache() = default;
    // Never an error: an unusable cache is simply absent.
    virtual std::optional<ComputeSegment> load_segment(std::uint64_t node_count,
                                                       std::uint64_t edge_count) = 0;
    [[nodiscard]] virtual Status save_segment(const ComputeSegment& segment,
                                              std::uint64_t node_count,
                                              std::uint64_t edge_count) = 0;
};

class GraphStore : public SegmentCache {
public:

    // An insertion batch as the core staged it (ids first_id, first_id + 1, ...; external
    // ids settled; properties as runs of props, edge types as numbers of types), so a large
    // batch is written without building one map per record.
    [[nodiscard]] virtual Status insert_nodes(std::uint64_t first_id, std::span<const NewNodeRecord> nodes,
                                              const PropertyBatch& props) = 0;
    [[nodiscard]] virtual Status insert_edges(std::uint64_t first_id, std::span<const NewEdgeRecord> edges,
                                              const TextTable& types, const PropertyBatch& props) = 0;
    [[nodiscard]] virtual Status insert_graph_records(std::span<const NodeRecord> nodes,
                                                      std::span<const EdgeRecord> edges) = 0;
    [[nodiscard]] virtual Status insert_variable(const VariableRecord& record) = 0;
    [[nodiscard]] virtual Status insert_factor(const FactorRecord& record) = 0;
    [[nodiscard]] virtual Status insert_factor_table(const FactorTableRecord& record) = 0;
    [[nodiscard]] virtual Status insert_evidence(const EvidenceRecord& record) = 0;
    [[nodiscard]] virtual Status insert_trace(const TraceRecord& record) = 0;
    // A factor, its op-log row and its table in one transaction: all of them or none.
    [[nodiscard]] virtual Status insert_factor_with_table(const FactorRecord& factor,
                                                          const FactorTableRecord& table) = 0;
    // Every given posterior row in one transaction, in the order given.
    [[nodiscard]] virtual Status upsert_posteriors(
        std::span<const std::pair<std::uint64_t, std::vector<double>>> entries) = 0;
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
    [[nodiscard]] virtual Result<std::uint64_t> current_op_seq() = 0;
    virtual std::string path() const = 0;
    // A fresh connection to the same database, for a refresh that must reload everything.
    [[nodiscard]] virtual Result<std::unique_ptr<GraphStore>> reopen() const = 0;

    // Streams every row in id order to f, reusing one record, so opening a large file
    // never holds all rows at once; f's error ends the scan.
    [[nodiscard]] virtual Status scan_nodes(const std::function<Status(NodeRecord&)>& f) = 0;
    [[nodiscard]] virtual Status scan_edges(const std::function<Status(EdgeRecord&)>& f) = 0;

    // ---- cross-handle consistency ----
    // Arms the next logged write: it proceeds only if the op-log sequence, read once the
    // write lock is held, still equals seq; otherwise it writes nothing and fails with the
    // staleness message. Without this, another writer could slip in between a handle's
    // staleness check and its write.
    virtual void guard_next_write(std::uint64_t seq) = 0;
    // The op-log sequence as of this handle's last committed logged write, read before the
    // commit released the lock, so it never covers rows this handle has not seen.
    virtual std::optional<std::uint64_t> op_seq_after_write() = 0;
    // Loads between these two calls see one consistent state of the file, even while other
    // handles commit. end_read never fails: a read transaction has nothing to lose.
    [[nodiscard]] virtual Status begin_read() = 0;
    virtual void end_read() = 0;
    // New rows since a known state, for refreshing without reloading everything: the
    // records whose id is at least the given one, in id order.
    [[nodiscard]] virtual Result<std::vector<NodeRecord>> load_nodes_from(std::uint64_t first_id) = 0;
    [[nodiscard]] virtual Result<std::vector<EdgeRecord>> load_edges_from(std::uint64_t first_id) = 0;
    [[nodiscard]] virtual Result<std::vector<VariableRecord>> load_variables_from(std::uint64_t first_id) = 0;
    [[nodiscard]] virtual Result<std::vector<FactorRecord>> load_factors_from(std::uint64_t first_id) = 0;
    [[nodiscard]] virtual Result<std::vector<EvidenceRecord>> load_evidence_from(std::uint64_t first_id) = 0;
    [[nodiscard]] virtual Result<std::vector<TraceRecord>> load_traces_from(std::uint64_t first_id) = 0;
    // Per op name, how many op-log rows were appended after seq.
    [[nodiscard]] virtual Result<std::vector<std::pair<std::string, std::uint64_t>>> op_counts_since(
        std::uint64_t seq) = 0;
};

// Holds a read transaction of a store for its lifetime.
class StoreReadScope {
public:
    explicit StoreReadScope(GraphStore& store) : store_(store) {}
    StoreReadScope(const StoreReadScope&) = delete;
    StoreReadScope& operator=(const StoreReadScope&) = delete;
    ~StoreReadScope() {
        if (active_) store_.end_read();
    }
    [[nodiscard]] Status begin() {
        QM_CHECK(store_.begin_read());
        active_ = true;
        return ok();
    }

private:
    GraphStore& store_;
    bool active_ = false;
};

}  // namespace qm
