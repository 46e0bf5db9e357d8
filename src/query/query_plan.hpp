// A validated query resolved against one graph: aliases numbered into binding slots, texts
// turned into the graph's symbols, and the choice of anchor. Building a plan does all the
// validation, so an invalid query never touches the graph's records.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/view.hpp"
#include "query/property_filter.hpp"
#include "query/query_spec.hpp"

namespace qm {

inline constexpr std::uint32_t kNoSlot = std::numeric_limits<std::uint32_t>::max();

struct NodeStep {
    std::uint32_t slot = kNoSlot;
    const NodeElement* element = nullptr;
    std::vector<Symbol> labels;
    bool impossible = false;  // names a label no node has
    std::vector<CompiledConstraint> constraints;
};

struct EdgeStep {
    std::uint32_t slot = kNoSlot;  // kNoSlot: the edge is not bound to an alias
    const EdgeElement* element = nullptr;
    bool typed = false;
    Symbol type = kNoSymbol;  // with typed: kNoSymbol means no edge has the type
    std::vector<CompiledConstraint> constraints;
};

struct QueryPlan {
    std::vector<NodeStep> nodes;  // match position 2k
    std::vector<EdgeStep> edges;  // match position 2k + 1
    std::size_t slot_count = 0;
    // The reported aliases in ascending byte order, the order of a row's keys.
    std::vector<std::string> columns;
    std::vector<std::uint32_t> column_slots;
    std::optional<std::uint64_t> limit;
};

// Validates the spec in a fixed order, so the first error reported never depends on luck (shape, aliases and filters element by element,
// then "return") and resolves it against g. The plan points into spec.
[[nodiscard]] Result<QueryPlan> plan_query(const GraphView& g, const QuerySpec& spec);

// Whether node id satisfies the step. With exact_floats, float equality filters compare as
// the value index does (see properties_match).
bool node_matches(const GraphView& g, const NodeStep& step, std::uint64_t id, bool exact_floats = false);

// The ascending ids an element can anchor on: those the indexes narrow it to (every live
// node when nothing narrows it) that also pass its own tests.
std::vector<std::uint64_t> node_candidates(const GraphView& g, const NodeStep& step);

// Where an element's candidates come from before its own tests run: the shortest id list
// the indexes give, or every node slot.
struct CandidateSource {
    bool all = true;
    std::vector<std::uint64_t> owned;
    std::span<const std::uint64_t> ids;
    std::size_t bound = 0;  // an upper bound of the candidate count
};
CandidateSource candidate_source(const GraphView& g, const NodeStep& step);

// Calls f(id) for node_candidates' ids in order until f returns false, without listing them:
// a query that meets its limit early never pays for the rest of a long list.
template <class F>
void for_each_candidate(const GraphView& g, const NodeStep& step, const CandidateSource& src, F&& f) {
    auto visit = [&](std::uint64_t id) { return !g.node_exists(id) || !node_matches(g, step, id, true) || f(id); };
    if (src.all) {
        for (std::uint64_t id = 0; id < g.nodes.size(); ++id)
            if (!visit(id)) return;
    } else {
        for (std::uint64_t id : src.ids)
            if (!visit(id)) return;
    }
}

// The index of the node step with strictly the fewest candidates, the earlier on a tie.
// Counting stops as soon as an element can no longer win, and the cheapest elements are
// counted first so the bound tightens early; the choice equals counting every list in full.
std::size_t choose_anchor(const GraphView& g, const QueryPlan& plan);

}  // namespace qm
