#include "core/live_graph.hpp"

#include "core/messages.hpp"
#include "core/store.hpp"

namespace qm {

LiveGraph::LiveGraph() : current_(std::make_shared<GraphCore>()) {}

LiveGraph::LiveGraph(GraphCore core) : current_(std::make_shared<GraphCore>(std::move(core))) {}

LiveGraph::~LiveGraph() {
    if (current_) current_->store.ptr.reset();
}

Snapshot LiveGraph::snapshot() const {
    // Most graphs have no posteriors: share one empty map rather than allocate per snapshot.
    static const auto kNoPosteriors = std::make_shared<const PosteriorMap>();
    Snapshot s;
    s.generation_ = current_;
    s.bounds_ = ViewBounds::of(*current_);
    s.posteriors_ = current_->posteriors.empty() ? kNoPosteriors
                                                 : std::make_shared<const PosteriorMap>(current_->posteriors);
    return s;
}

Status LiveGraph::refresh() {
    GraphCore& g = *current_;
    if (!g.store) return fail(std::string(msg::kRefreshNeedsStore));
    if (g.refresh_incremental()) return ok();
    QM_TRY(reopened, g.store->reopen());
    QM_TRY(fresh, GraphCore::open(std::move(reopened)));
    auto next = std::make_shared<GraphCore>(std::move(fresh));
    g.store.ptr.reset();  // the old generation now only serves snapshots
    current_ = std::move(next);
    return ok();
}

}  // namespace qm
