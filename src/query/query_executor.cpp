#include "query/query_executor.hpp"

#include <limits>
#include <span>

#include "core/prefetch.hpp"
#include "query/query_plan.hpp"

namespace qm {

namespace {

constexpr std::uint64_t kUnbound = std::numeric_limits<std::uint64_t>::max();

// The steps (edge, far node) from one node in one direction, read in place: outgoing edges
// first, then incoming ones; with both directions a self-loop is taken once, as outgoing.
class StepCursor {
public:
    StepCursor() = default;
    StepCursor(const GraphView& g, std::uint64_t node, QueryDirection dir) : node_(node) {
        auto add = [&](bool outgoing) {
            EdgeIdRange r = g.edge_ids_for_node(node, outgoing);
            spans_[count_] = r.compacted;
            outgoing_[count_++] = outgoing;
            spans_[count_] = r.delta;
            outgoing_[count_++] = outgoing;
        };
        if (dir != QueryDirection::In) add(true);
        if (dir != QueryDirection::Out) add(false);
        skip_loops_ = dir == QueryDirection::Both;
        // The edge slots lie scattered over the edge table: ask for the first few at once.
        std::size_t asked = 0;
        for (std::size_t k = 0; k < count_ && asked < kAhead; ++k)
            for (std::size_t i = 0; i < spans_[k].size() && asked < kAhead; ++i, ++asked)
                if (spans_[k][i] < g.edges.size()) prefetch_read(&g.edges[spans_[k][i]]);
    }

    // The next step over a live edge; false when there are none left.
    bool next(const GraphView& g, std::uint64_t& edge, std::uint64_t& far) {
        const std::size_t table = g.edges.size();
        while (k_ < count_) {
            std::span<const std::uint64_t> ids = spans_[k_];
            while (i_ < ids.size()) {
                if (i_ + kAhead < ids.size() && ids[i_ + kAhead] < table)
                    prefetch_read(&g.edges[ids[i_ + kAhead]]);
                const std::uint64_t e = ids[i_++];
                if (e >= table) continue;
                const EdgeSlot& slot = g.edges[e];
                if (!slot.occupied()) continue;
                if (outgoing_[k_]) {
                    far = slot.target;
                } else {
                    // Already listed among the outgoing steps.
                    if (skip_loops_ && slot.source == node_) continue;
                    far = slot.source;
                }
                edge = e;
                return true;
            }
            ++k_;
            i_ = 0;
        }
        return false;
    }

private:
    static constexpr std::size_t kAhead = 8;
    std::span<const std::uint64_t> spans_[4];
    bool outgoing_[4] = {};
    std::size_t count_ = 0;
    std::size_t k_ = 0;
    std::size_t i_ = 0;
    std::uint64_t node_ = 0;
    bool skip_loops_ = false;
};

QueryDirection mirrored(QueryDirection d) {
    if (d == QueryDirection::Out) return QueryDirection::In;
    if (d == QueryDirection::In) return QueryDirection::Out;
    return d;
}

// The depth-first walk. One binding array is shared by the whole walk: a step binds the
// aliases it newly fixes and unbinds them when the walk backs out of it, which gives the
// same bindings as copying them per partial path without the copies. The walk keeps its
// own stack, so a long path cannot exhaust the machine stack.
class Walker {
public:
    Walker(const GraphView& g, const QueryPlan& plan, QueryRows& rows)
        : g_(g), plan_(plan), rows_(rows), binding_(plan.slot_count, kUnbound) {}

    // Runs the whole query from the anchor at node step a.
    void run(std::size_t a) {
        const std::size_t width = plan_.slot_count;
        const std::uint32_t anchor_slot = plan_.nodes[a].slot;
        std::vector<std::uint64_t> lefts;
        for (std::uint64_t c : node_candidates(g_, plan_.nodes[a])) {
            std::fill(binding_.begin(), binding_.end(), kUnbound);
            binding_[anchor_slot] = c;
            lefts.clear();
            walk(a, c, /*rightward=*/false, [&] { lefts.insert(lefts.end(), binding_.begin(), binding_.end()); });
            for (std::size_t off = 0; off < lefts.size(); off += width) {
                std::copy_n(lefts.begin() + static_cast<std::ptrdiff_t>(off), width, binding_.begin());
                if (binding_[anchor_slot] == kUnbound) continue;
                walk(a, binding_[anchor_slot], /*rightward=*/true, [&] { emit(); });
                if (full()) return;
            }
        }
    }

private:
    struct Frame {
        std::size_t step;  // node step index
        StepCursor cursor;
        std::uint32_t bound_edge = kNoSlot;  // slots this frame's arrival bound
        std::uint32_t bound_node = kNoSlot;
    };

    bool full() const { return plan_.limit && rows_.count >= *plan_.limit; }

    void emit() {
        for (std::uint32_t slot : plan_.column_slots) rows_.ids.push_back(binding_[slot]);
        ++rows_.count;
    }

    // From node step `from` at node n towards the end of the path in one direction; on_end
    // runs with the binding of every complete path, in depth-first order.
    template <class OnEnd>
    void walk(std::size_t from, std::uint64_t n, bool rightward, OnEnd&& on_end) {
        const std::size_t last = rightward ? plan_.nodes.size() - 1 : 0;
        stack_.clear();
        stack_.push_back(frame_at(from, n, rightward, last));
        while (!stack_.empty()) {
            if (rightward && full()) return;
            Frame& f = stack_.back();
            if (f.step == last) {
                on_end();
                pop();
                continue;
            }
            const std::size_t to = rightward ? f.step + 1 : f.step - 1;
            const EdgeStep& es = plan_.edges[rightward ? f.step : f.step - 1];
            const NodeStep& ns = plan_.nodes[to];
            std::uint64_t e = 0, m = 0;
            bool advanced = false;
            while (f.cursor.next(g_, e, m)) {
                if (rightward && full()) return;
                if (!admits(es, ns, e, m)) continue;
                Frame child = frame_at(to, m, rightward, last);
                if (es.slot != kNoSlot && binding_[es.slot] == kUnbound) {
                    binding_[es.slot] = e;
                    child.bound_edge = es.slot;
                }
                if (binding_[ns.slot] == kUnbound) {
                    binding_[ns.slot] = m;
                    child.bound_node = ns.slot;
                }
                stack_.push_back(std::move(child));  // f is dangling from here on
                advanced = true;
                break;
            }
            if (!advanced) pop();
        }
    }

    Frame frame_at(std::size_t step, std::uint64_t n, bool rightward, std::size_t last) const {
        Frame f;
        f.step = step;
        if (step != last) {
            QueryDirection d = plan_.edges[rightward ? step : step - 1].element->direction;
            f.cursor = StepCursor(g_, n, rightward ? d : mirrored(d));
        }
        return f;
    }

    void pop() {
        const Frame& f = stack_.back();
        if (f.bound_edge != kNoSlot) binding_[f.bound_edge] = kUnbound;
        if (f.bound_node != kNoSlot) binding_[f.bound_node] = kUnbound;
        stack_.pop_back();
    }

    // Whether the step over edge e to node m satisfies the edge and node elements and agrees
    // with what is already bound. Cheap tests first; all of them are pure.
    bool admits(const EdgeStep& es, const NodeStep& ns, std::uint64_t e, std::uint64_t m) const {
        const EdgeElement& el = *es.element;
        if (el.id && *el.id != e) return false;
        const EdgeSlot& edge = g_.edges[e];
        if (es.typed && (es.type == kNoSymbol || edge.type != es.type)) return false;
        if (es.slot != kNoSlot && binding_[es.slot] != kUnbound && binding_[es.slot] != e) return false;
        if (binding_[ns.slot] != kUnbound && binding_[ns.slot] != m) return false;
        if (!g_.node_exists(m)) return false;
        if (!properties_match(edge.props, es.constraints)) return false;
        return node_matches(g_, ns, m);
    }

    const GraphView& g_;
    const QueryPlan& plan_;
    QueryRows& rows_;
    std::vector<std::uint64_t> binding_;
    std::vector<Frame> stack_;
};

}  // namespace

Result<QueryRows> query(const GraphView& g, const QuerySpec& spec) {
    QM_TRY(plan, plan_query(g, spec));
    QueryRows rows;
    rows.columns = plan.columns;
    if (plan.limit && *plan.limit == 0) return rows;
    Walker(g, plan, rows).run(choose_anchor(g, plan));
    return rows;
}

}  // namespace qm
