// The three ways a statement runs: auto-commit on a live graph, inside an explicit
// transaction, and read-only on a snapshot. Each runs on a WorkingGraph over its graph;
// writes reach the live graph (and its file) only through the lifecycle's commit, all at
// once or not at all.
#pragma once

#include <string_view>

#include "core/graph.hpp"
#include "core/result.hpp"
#include "core/view.hpp"
#include "cypher/executor.hpp"
#include "cypher/working_graph.hpp"

namespace qm::cypher {

// Parses and runs one statement; a writing statement commits its records on success.
[[nodiscard]] Result<CypherResult> execute_autocommit(GraphCore& graph, std::string_view text, const Params& params);
// Read statements only.
[[nodiscard]] Result<CypherResult> execute_snapshot(const GraphView& graph, std::string_view text,
                                                    const Params& params);

// A transaction's working copy: the live graph cut where it stood at the start, plus the
// records its successful runs created.
class Transaction {
public:
    Transaction(const GraphCore& live, bool write);

    // A failed run leaves the working copy as it was and the transaction active.
    [[nodiscard]] Result<CypherResult> run(const GraphCore& live, std::string_view text, const Params& params);
    // Applies the created records to the live graph; on failure stays active.
    [[nodiscard]] Status commit(GraphCore& live);
    void rollback() { active_ = false; }
    bool active() const { return active_; }
    bool write() const { return write_; }

private:
    ViewBounds bounds_;
    Overlay overlay_;
    bool write_;
    bool active_ = true;
};

}  // namespace qm::cypher
