// Building the compacted CSR segment from the edge table, and the rule that decides when.
#include "core/graph.hpp"
#include "core/messages.hpp"
#include "sqlite/graph_store.hpp"

namespace qm {

namespace {

constexpr std::uint64_t kDeltaLimit = 1024;

// Counting sort of live edges by endpoint: one pass to count, one to place. Walking edges
// in ascending id order keeps each node's slice ascending.
void build_side(const std::vector<EdgeSlot>& edges, std::uint64_t n, bool outgoing,
                std::vector<std::uint64_t>& offsets, std::vector<std::uint64_t>& ids) {
    offsets.assign(n + 1, 0);
    for (const EdgeSlot& e : edges) {
        if (!e.occupied()) continue;
        std::uint64_t v = outgoing ? e.source : e.target;
        if (v < n) ++offsets[v + 1];
    }
    for (std::uint64_t v = 0; v < n; ++v) offsets[v + 1] += offsets[v];
    ids.assign(offsets[n], 0);
    std::vector<std::uint64_t> cursor(offsets.begin(), offsets.end() - 1);
    for (std::uint64_t id = 0; id < edges.size(); ++id) {
        const EdgeSlot& e = edges[id];
        if (!e.occupied()) continue;
        std::uint64_t v = outgoing ? e.source : e.target;
        if (v < n) ids[cursor[v]++] = id;
    }
}

}  // namespace

void GraphCore::rebuild_compacted_segment() {
    ComputeSegment seg;
    std::uint64_t n = nodes.size();
    build_side(edges, n, true, seg.out_offsets, seg.out_edges);
    build_side(edges, n, false, seg.in_offsets, seg.in_edges);
    compacted_segment = std::move(seg);
    clear_delta_segments();
}

void GraphCore::clear_delta_segments() {
    std::size_t n = nodes.size();
    delta_out.assign(n, {});
    delta_in.assign(n, {});
    delta_out.shrink_to_fit();
    delta_in.shrink_to_fit();
    delta_edges_ = 0;
}

Status GraphCore::compact_segments() {
    if (store) QM_CHECK(ensure_store_current());
    rebuild_compacted_segment();
    if (store) QM_CHECK(store->save_segment(compacted_segment, nodes.size(), live_edges_));
    return ok();
}

bool GraphCore::compaction_due() const {
    std::uint64_t d = delta_edges_;
    std::uint64_t c = compacted_segment.out_edges.size();
    if (c == 0) return d > kDeltaLimit;
    return d > kDeltaLimit || 4 * d > c;
}

void GraphCore::apply_compaction_rule_after_commit() {
    if (!store || !compaction_due()) return;
    auto status = compact_segments();
    if (!status) warnings.push_back(std::move(status.error()));
}

}  // namespace qm
