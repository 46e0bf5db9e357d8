// GraphCore's compaction: the rule that decides when the delta lists are folded into the
// compacted segment, and the folding itself (with the cache save for a backed graph).
#include "core/graph.hpp"
#include "core/messages.hpp"
#include "core/store.hpp"

namespace qm {

void GraphCore::rebuild_compacted_segment() {
    compacted_segment = build_segment(edges, nodes.size());
    clear_delta_segments();
}

void GraphCore::fold_deltas_into_segment() {
    compacted_segment = merge_segment(compacted_segment, delta_out, delta_in, nodes.size());
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
    fold_deltas_into_segment();
    if (store) QM_CHECK(store->save_segment(compacted_segment, nodes.size(), live_edges_));
    return ok();
}

bool GraphCore::compaction_due() const {
    std::uint64_t d = delta_edges_;
    std::uint64_t c = compacted_segment.out_edges.size();
    if (c == 0) return d > kCompactionDeltaLimit;
    return d > kCompactionDeltaLimit || kCompactionRatio * d > c;
}

void GraphCore::apply_compaction_rule_after_commit() {
    if (!store || !compaction_due()) return;
    auto status = compact_segments();
    if (!status) warnings.push_back(std::move(status.error()));
}

}  // namespace qm
