// GraphCore: the whole graph in memory and the single owner of every record, index,
// the adjacency and (for a file-backed graph) the store. Every other subsystem is an
// operation over it. Records are append-only: nothing is removed or updated in place.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/external_ids.hpp"
#include "core/id_set.hpp"
#include "core/packed_props.hpp"
#include "core/property_index.hpp"
#include "core/records.hpp"
#include "core/result.hpp"
#include "core/segment.hpp"
#include "core/slots.hpp"
#include "core/symbols.hpp"

namespace qm {

class GraphStore;
struct AppendedRows;  // what a refresh reads from the file

// Owns a store but copies as empty, so a copy of the graph never reaches the file.
struct StoreSlot {
    std::unique_ptr<GraphStore> ptr;
    StoreSlot();
    ~StoreSlot();
    StoreSlot(StoreSlot&&) noexcept;
    StoreSlot& operator=(StoreSlot&&) noexcept;
    StoreSlot(const StoreSlot&);
    StoreSlot& operator=(const StoreSlot&);
    GraphStore* operator->() const { return ptr.get(); }
    explicit operator bool() const { return ptr != nullptr; }
};

class GraphCore {
public:
    GraphCore();
    ~GraphCore();
    GraphCore(GraphCore&&) noexcept;
    GraphCore& operator=(GraphCore&&) noexcept;

    // ---- insertion (all-or-nothing; an error text on failure) ----
    [[nodiscard]] Result<std::uint64_t> add_node(std::optional<std::string> external_id,
                                                 std::vector<std::string> labels,
                                                 PropertyMap properties);
    // Each record's properties are a run of props.
    [[nodiscard]] Result<std::vector<std::uint64_t>> add_nodes(std::vector<NewNodeRecord> records,
                                                               const PropertyBatch& props);
    [[nodiscard]] Result<std::uint64_t> add_edge(std::uint64_t source, std::uint64_t target,
                                                 std::string edge_type, PropertyMap properties);
    // Each record's type is a number of types.
    [[nodiscard]] Result<std::vector<std::uint64_t>> add_edges(std::vector<NewEdgeRecord> records,
                                                               const TextTable& types,
                                                               const PropertyBatch& props);
    [[nodiscard]] Status insert_node_record(const NodeRecord& record);
    [[nodiscard]] Status insert_edge_record(const EdgeRecord& record);
    [[nodiscard]] Status insert_loaded_edge(const EdgeRecord& record);

    // ---- lookups (never fail) ----
    bool node_exists(std::uint64_t id) const { return id < nodes.size() && nodes[id].occupied(); }
    bool edge_exists(std::uint64_t id) const { return id < edges.size() && edges[id].occupied(); }
    std::optional<NodeRecord> get_node(std::uint64_t id) const;
    std::optional<EdgeRecord> get_edge(std::uint64_t id) const;
    std::optional<std::uint64_t> get_node_id(std::string_view external_id) const;
    std::vector<std::uint64_t> node_ids() const;
    std::vector<std::uint64_t> edge_ids() const;
    std::uint64_t node_count() const { return live_nodes_; }
    std::uint64_t edge_count() const { return live_edges_; }
    std::vector<std::uint64_t> nodes_with_label(std::string_view label) const;
    std::vector<std::uint64_t> edges_by_type(std::string_view edge_type) const;
    std::vector<std::uint64_t> nodes_with_property(std::string_view key,
                                                   const std::optional<PropertyValue>& value) const;
    std::vector<std::uint64_t> edges_with_property(std::string_view key,
                                                   const std::optional<PropertyValue>& value) const;
    std::string_view edge_type_of(std::uint64_t edge_id) const { return symbols->text(edges[edge_id].type); }
    // A node's label symbols in creation order.
    std::span<const Symbol> labels_of(std::uint64_t id) const {
        return std::span<const Symbol>(label_pool).subspan(nodes[id].label_begin, nodes[id].label_count);
    }
    PropertyMap node_properties_of(std::uint64_t id) const { return unpack_properties(nodes[id].props, *symbols); }
    PropertyMap edge_properties_of(std::uint64_t id) const { return unpack_properties(edges[id].props, *symbols); }

    // ---- adjacency ----
    // The node's compacted edges followed by its delta list; no existence check.
    EdgeIdRange edge_ids_for_node(std::uint64_t node, bool outgoing) const {
        EdgeIdRange r;
        r.compacted = compacted_segment.edges_of(node, outgoing);
        const auto& delta = outgoing ? delta_out : delta_in;
        if (node < delta.size()) r.delta = delta[node];
        return r;
    }
    std::uint64_t delta_edge_count() const { return delta_edges_; }

    // ---- lifecycle ----
    // Loads the whole graph from an opened store, which the graph then owns.
    [[nodiscard]] static Result<GraphCore> open(std::unique_ptr<GraphStore> store);
    // An independent copy without store or op-log mark. A full copy: reads of a moment
    // should take a view (LiveGraph::snapshot) instead.
    GraphCore snapshot() const;
    // Fails with the staleness message when the file changed under this handle; on
    // success arms the store so the next logged write re-checks under its write lock.
    [[nodiscard]] Status ensure_store_current();
    bool has_store() const { return static_cast<bool>(store); }
    // Re-reads the op-log sequence after a committed store write; a failure to read it
    // marks the handle stale and leaves a warning, never an error.
    void note_committed_write();
    // Applies the records a transaction created on its working copy (ids at or above the
    // recorded next ids) to this live graph and its file, all or nothing.
    [[nodiscard]] Status commit_transaction_snapshot(const GraphCore& working,
                                                     std::uint64_t base_next_node_id,
                                                     std::uint64_t base_next_edge_id);
    // The same with the created records given directly, ascending by id.
    [[nodiscard]] Status commit_transaction_records(std::vector<NodeRecord> nodes,
                                                    std::vector<EdgeRecord> edges,
                                                    std::uint64_t base_next_node_id,
                                                    std::uint64_t base_next_edge_id);

    // ---- compaction ----
    // Folds every edge into a fresh CSR segment (ascending edge ids per node) and empties
    // the deltas; with a store, checks staleness first and saves the segment cache.
    [[nodiscard]] Status compact_segments();
    // Builds the segment from the edge table alone (after a load placed edges in no list).
    void rebuild_compacted_segment();
    // Appends each node's delta lists to its compacted slices: the same segment as a
    // rebuild, for a fraction of the work.
    void fold_deltas_into_segment();
    void clear_delta_segments();
    // The rule after an edge batch or transaction commit: compact when more than
    // kCompactionDeltaLimit edges are uncompacted, or when kCompactionRatio times the
    // uncompacted count exceeds the compacted count.
    static constexpr std::uint64_t kCompactionDeltaLimit = 1024;
    static constexpr std::uint64_t kCompactionRatio = 4;
    bool compaction_due() const;
    // Runs the rule after a committed write: failures become warnings, never errors,
    // because the write itself has already succeeded.
    void apply_compaction_rule_after_commit();

    // ---- data (names as used by every subsystem) ----
    // Invariants, kept by every insertion path and relied on by every reader:
    // - Ids are slot indexes, dense from 0 and never reused; a slot, once occupied, never
    //   changes (only appended to), except a variable's latest posterior in posteriors.
    // - nodes.size() == next_node_id and edges.size() == next_edge_id; delta_out and
    //   delta_in have at least nodes.size() lists.
    // - Every live edge is listed exactly once per direction: in compacted_segment or in
    //   the delta list of its source (out) and target (in), never both. Per node and
    //   direction, the compacted ids are all below the delta ids and each part ascends.
    // - The indexes (external_ids, label_index, edge_type_index, the property indexes)
    //   list exactly the live records, each id set ascending.
    // - live_nodes_ and live_edges_ count occupied slots; delta_edges_ counts edges in
    //   the delta lists (per direction).
    // - A store, when present, holds every record in memory, and loaded_op_seq is the
    //   op-log sequence this memory reflects (unless stale is set).
    std::vector<NodeSlot> nodes;
    std::vector<EdgeSlot> edges;
    // Every node's labels end to end, so a node costs no allocation of its own for them.
    std::vector<Symbol> label_pool;
    std::vector<std::optional<VariableRecord>> variables;
    std::vector<std::optional<FactorRecord>> factors;
    std::unordered_map<std::uint64_t, FactorTableRecord> factor_tables;
    std::unordered_map<std::uint64_t, std::vector<double>> posteriors;
    std::vector<std::optional<EvidenceRecord>> evidence;
    std::vector<std::optional<TraceRecord>> traces;
    ComputeSegment compacted_segment;
    std::vector<std::vector<std::uint64_t>> delta_out;
    std::vector<std::vector<std::uint64_t>> delta_in;
    ExternalIdIndex external_ids;
    std::unordered_map<Symbol, IdSet> label_index;
    std::unordered_map<Symbol, IdSet> edge_type_index;
    PropertyIndex node_property_index;
    PropertyIndex edge_property_index;
    // One more than the highest id ever inserted (0 when none).
    std::uint64_t next_node_id = 0;
    std::uint64_t next_edge_id = 0;
    std::uint64_t next_variable_id = 0;
    std::uint64_t next_factor_id = 0;
    std::uint64_t next_evidence_id = 0;
    std::uint64_t next_trace_id = 0;
    std::optional<std::uint64_t> loaded_op_seq;
    StoreSlot store;
    // Append-only tables shared with snapshots.
    std::shared_ptr<SymbolTable> symbols;
    std::shared_ptr<BlobArena> arena;
    // Set when a committed write could not re-read the op-log sequence: the next write
    // must refuse until refresh().
    bool stale = false;
    // Non-fatal conditions of the last operation (a committed write whose follow-up work
    // failed); the Python layer turns each into a RuntimeWarning and clears the list.
    std::vector<std::string> warnings;

private:
    friend class LiveGraph;
    GraphCore(const GraphCore&) = default;
    GraphCore& operator=(const GraphCore&) = default;

    // Makes node slot id and its delta lists exist.
    void grow_adjacency(std::uint64_t id) {
        if (id >= nodes.size() || id >= delta_out.size() || id >= delta_in.size()) grow_slots(id);
    }
    void grow_slots(std::uint64_t id);
    std::string_view external_id_of(std::uint64_t id) const { return nodes[id].external_id; }
    // Places a validated node whose external id and slot are known to be free.
    // props_of packs the properties once the labels are interned (symbols keep that order);
    // indexing them is the caller's, which may do it while packing.
    template <class PackProps>
    void place_node(std::uint64_t id, std::string external_id, std::span<const std::string> labels,
                    PackProps&& props_of, std::uint64_t hash);
    // Without to_delta the edge is listed in no adjacency: only for loading, which then
    // installs a segment covering every edge.
    void place_edge(const EdgeRecord& record, bool to_delta = true);
    // Leaves the properties unindexed, like place_node.
    void place_edge(std::uint64_t id, std::uint64_t source, std::uint64_t target,
                    PackedProps props, Symbol type, IdSet& type_ids, bool to_delta);
    // Sizes the delta lists a large batch is about to extend (endpoints already validated).
    void reserve_delta_lists(std::span<const NewEdgeRecord> batch);
    static constexpr std::size_t kBulkEdges = 1024;
    // Fills an empty graph from the store (one consistent read of the file).
    [[nodiscard]] Status load_from_store(GraphStore& source);
    // Loads only what changed since loaded_op_seq, by appending; false when only a full
    // reload can reproduce the file's state (or the file holds an error a full open must
    // report). LiveGraph::refresh does the full reload, as a new generation.
    bool refresh_incremental();
    // The last, infallible step of refresh_incremental.
    void apply_appended_rows(AppendedRows& rows, std::vector<std::optional<VariableRecord>> variables_after,
                             std::vector<std::optional<FactorRecord>> factors_after);

    std::uint64_t live_nodes_ = 0;
    std::uint64_t live_edges_ = 0;
    std::uint64_t delta_edges_ = 0;
};

}  // namespace qm
