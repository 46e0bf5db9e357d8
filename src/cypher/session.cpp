#include "cypher/session.hpp"

#include "cypher/messages.hpp"
#include "cypher/parser.hpp"

namespace qm::cypher {

namespace {

Overlay overlay_over(const GraphView& g) {
    Overlay o;
    o.node_base = g.next_node_id();
    o.edge_base = g.next_edge_id();
    return o;
}

}  // namespace

Result<CypherResult> execute_autocommit(GraphCore& graph, std::string_view text, const Params& params) {
    QM_TRY(query, parse_query(text));
    GraphView view(graph);
    Overlay overlay = overlay_over(view);
    WorkingGraph working(view, overlay);
    QM_TRY(result, execute_query(working, query, params, query.writes()));
    if (query.writes())
        QM_CHECK(graph.commit_transaction_records(std::move(overlay.nodes), std::move(overlay.edges), overlay.node_base,
                                                  overlay.edge_base));
    return result;
}

Result<CypherResult> execute_snapshot(const GraphView& graph, std::string_view text, const Params& params) {
    QM_TRY(query, parse_query(text));
    if (query.writes()) return fail(std::string(msg::kSnapshotReadOnly));
    Overlay overlay = overlay_over(graph);
    WorkingGraph working(graph, overlay);
    return execute_query(working, query, params, false);
}

Transaction::Transaction(const GraphCore& live, bool write)
    : bounds_(ViewBounds::of(live)), overlay_(overlay_over(GraphView(live))), write_(write) {}

Result<CypherResult> Transaction::run(const GraphCore& live, std::string_view text, const Params& params) {
    if (!active_) return fail(std::string(msg::kTransactionInactive));
    QM_TRY(query, parse_query(text));
    Overlay::Mark mark = overlay_.mark();
    // The live graph may have grown since the start; the view cuts it back.
    WorkingGraph working(GraphView(live, bounds_), overlay_);
    auto result = execute_query(working, query, params, write_);
    if (!result) overlay_.truncate(mark);
    return result;
}

Status Transaction::commit(GraphCore& live) {
    if (!active_) return fail(std::string(msg::kTransactionInactive));
    if (write_) QM_CHECK(live.commit_transaction_records(overlay_.nodes, overlay_.edges, overlay_.node_base,
                                                         overlay_.edge_base));
    active_ = false;
    return ok();
}

}  // namespace qm::cypher
