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
//
// When the far node is already bound (a path closing on itself), the steps that can bind
// are the edges between the two nodes, and they can be read from either end: edges of one
// pair ascend by id in both nodes' lists. The shorter side is read, and since the bound
// node is the same for every step of the walk, its list stays in cache.
class StepCursor {
public:
    StepCursor() = default;
    StepCursor(const GraphView& g, std::uint64_t node, QueryDirection dir, std::uint64_t bound_far)
        : node_(node) {
        const bool out = dir != QueryDirection::In;
        const bool in = dir != QueryDirection::Out;
        const bool both = out && in;
        EdgeIdRange near_out, near_in, far_out, far_in;
        bool from_far = false;
        if (bound_far != kUnbound) {
            if (out) far_in = g.edge_ids_for_node(bound_far, false);
            if (in) far_out = g.edge_ids_for_node(bound_far, true);
            // A short list at the bound end wins without looking at this node's lists,
            // whose offsets would be one more cache miss per step.
            from_far = far_in.size() + far_out.size() <= kShortList;
        }
        if (!from_far) {
            if (out) near_out = g.edge_ids_for_node(node, true);
            if (in) near_in = g.edge_ids_for_node(node, false);
            if (bound_far != kUnbound)
                from_far = far_in.size() + far_out.size() < near_out.size() + near_in.size();
        }
        if (from_far) {
            // node -> far is among far's incoming edges, far -> node among its outgoing.
            if (out) add(far_in, Near::Source, true, false);
            if (in) add(far_out, Near::Target, false, both);
        } else {
            if (out) add(near_out, Near::Any, true, false);
            if (in) add(near_in, Near::Any, false, both);
        }
        // The edge slots lie scattered over the edge table: ask for the first few at once.
        std::size_t asked = 0;
        for (std::size_t k = 0; k < count_ && asked < kAhead; ++k)
            for (std::size_t i = 0; i < lists_[k].ids.size() && asked < kAhead; ++i, ++asked)
                if (lists_[k].ids[i] < g.edges.size()) prefetch_read(&g.edges[lists_[k].ids[i]]);
    }

    // The next step over a live edge; false when there are none left.
    bool next(const GraphView& g, std::uint64_t& edge, std::uint64_t& far) {
        const std::size_t table = g.edges.size();
        while (k_ < count_) {
            const List& list = lists_[k_];
            const std::span<const std::uint64_t> ids = list.ids;
            while (i_ < ids.size()) {
                if (i_ + kAhead < ids.size() && ids[i_ + kAhead] < table)
                    prefetch_read(&g.edges[ids[i_ + kAhead]]);
                // Every step reads its far node's slot too; the edge slot asked for a few
                // steps ago is in cache by now and names it.
                if (i_ + kAhead / 2 < ids.size() && ids[i_ + kAhead / 2] < table) {
                    const EdgeSlot& ahead = g.edges[ids[i_ + kAhead / 2]];
                    const std::uint64_t n = list.far_is_target ? ahead.target : ahead.source;
                    if (n < g.nodes.size()) prefetch_read(&g.nodes[n]);
                }
                const std::uint64_t e = ids[i_++];
                if (e >= table) continue;
                const EdgeSlot& slot = g.edges[e];
                if (!slot.occupied()) continue;
                if (list.near == Near::Source && slot.source != node_) continue;
                if (list.near == Near::Target && slot.target != node_) continue;
                // Already listed among the outgoing steps.
                if (list.skip_loops && slot.source == node_) continue;
                far = list.far_is_target ? slot.target : slot.source;
                edge = e;
                return true;
            }
            ++k_;
            i_ = 0;
        }
        return false;
    }

private:
    enum class Near : std::uint8_t { Any, Source, Target };  // which end must be the node
    struct List {
        std::span<const std::uint64_t> ids;
        Near near = Near::Any;
        bool far_is_target = true;
        bool skip_loops = false;
    };
    void add(const EdgeIdRange& r, Near near, bool far_is_target, bool skip_loops) {
        for (auto ids : {r.compacted, r.delta})
            if (!ids.empty()) lists_[count_++] = List{ids, near, far_is_target, skip_loops};
    }

    static constexpr std::size_t kAhead = 8;
    static constexpr std::size_t kShortList = 32;
    List lists_[4];
    std::size_t count_ = 0;
    std::size_t k_ = 0;
    std::size_t i_ = 0;
    std::uint64_t node_ = 0;
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
        const NodeStep& anchor = plan_.nodes[a];
        for_each_candidate(g_, anchor, candidate_source(g_, anchor), [&](std::uint64_t c) {
            std::fill(binding_.begin(), binding_.end(), kUnbound);
            binding_[anchor_slot] = c;
            lefts.clear();
            walk(a, c, /*rightward=*/false, [&] { lefts.insert(lefts.end(), binding_.begin(), binding_.end()); });
            for (std::size_t off = 0; off < lefts.size(); off += width) {
                std::copy_n(lefts.begin() + static_cast<std::ptrdiff_t>(off), width, binding_.begin());
                if (binding_[anchor_slot] == kUnbound) continue;
                walk(a, binding_[anchor_slot], /*rightward=*/true, [&] { emit(); });
                if (full()) return false;
            }
            return true;
        });
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
                if (to == last) {
                    // A step onto the path's end completes a path: no frame needed.
                    const bool bind_edge = es.slot != kNoSlot && binding_[es.slot] == kUnbound;
                    const bool bind_node = binding_[ns.slot] == kUnbound;
                    if (bind_edge) binding_[es.slot] = e;
                    if (bind_node) binding_[ns.slot] = m;
                    on_end();
                    if (bind_edge) binding_[es.slot] = kUnbound;
                    if (bind_node) binding_[ns.slot] = kUnbound;
                    continue;
                }
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
            const std::uint32_t far_slot = plan_.nodes[rightward ? step + 1 : step - 1].slot;
            f.cursor = StepCursor(g_, n, rightward ? d : mirrored(d), binding_[far_slot]);
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
