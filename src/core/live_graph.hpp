// LiveGraph: the graph behind a handle, as a sequence of generations; and Snapshot, the
// graph as it stood at one moment, kept across calls.
//
// Writes append to the current generation in place: a snapshot of it is only bounds, so it
// costs no copy and keeps answering as at its moment. What cannot be expressed as appends
// (a refresh that must reload the whole file) builds a new generation and leaves the old
// one alive for the snapshots that still read it.
#pragma once

#include <memory>

#include "core/graph.hpp"
#include "core/result.hpp"
#include "core/view.hpp"

namespace qm {

class Snapshot {
public:
    // A view of the moment, for one call.
    GraphView view() const { return GraphView(*generation_, bounds_, posteriors_.get()); }
    const ViewBounds& bounds() const { return bounds_; }

private:
    friend class LiveGraph;
    std::shared_ptr<const GraphCore> generation_;
    ViewBounds bounds_;
    // Posteriors are the one thing written in place, so a snapshot keeps its own.
    std::shared_ptr<const PosteriorMap> posteriors_;
};

class LiveGraph {
public:
    LiveGraph();
    explicit LiveGraph(GraphCore core);
    // Closes the store: snapshots keep the records, never the file.
    ~LiveGraph();
    LiveGraph(LiveGraph&&) noexcept = default;
    LiveGraph& operator=(LiveGraph&&) = delete;
    LiveGraph(const LiveGraph&) = delete;
    LiveGraph& operator=(const LiveGraph&) = delete;

    GraphCore& core() { return *current_; }
    const GraphCore& core() const { return *current_; }
    Snapshot snapshot() const;
    // Brings a backed graph up to date with its file; the result equals a fresh open of the
    // same path. Appends in place when it can, else switches to a freshly loaded
    // generation. On failure the graph is left as it was.
    [[nodiscard]] Status refresh();

private:
    std::shared_ptr<GraphCore> current_;
};

}  // namespace qm
