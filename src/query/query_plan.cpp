#include "query/query_plan.hpp"

#include <algorithm>
#include <numeric>
#include <span>
#include <string_view>
#include <unordered_map>

#include "query/query_messages.hpp"

namespace qm {

namespace {

enum class AliasKind { Node, Edge };

struct AliasTable {
    struct Entry {
        AliasKind kind;
        std::uint32_t slot;
    };
    std::unordered_map<std::string_view, Entry> by_name;
    std::vector<std::string_view> declared;  // first-declaration order

    Result<std::uint32_t> declare(std::string_view alias, AliasKind kind) {
        auto it = by_name.find(alias);
        if (it != by_name.end()) {
            if (it->second.kind != kind) return fail(qmsg::alias_both_kinds(alias));
            return it->second.slot;
        }
        auto slot = static_cast<std::uint32_t>(declared.size());
        by_name.emplace(alias, Entry{kind, slot});
        declared.push_back(alias);
        return slot;
    }
};

}  // namespace

CandidateSource candidate_source(const GraphView& g, const NodeStep& step) {
    CandidateSource src;
    const NodeElement& el = *step.element;
    auto use = [&](std::span<const std::uint64_t> ids) {
        if (src.all || ids.size() < src.ids.size()) {
            src.all = false;
            src.ids = ids;
        }
    };
    auto own = [&](std::vector<std::uint64_t> ids) {
        src.owned = std::move(ids);
        src.all = false;
        src.ids = src.owned;
    };
    if (step.impossible) {
        own({});
    } else if (el.id) {
        own(g.node_exists(*el.id) ? std::vector<std::uint64_t>{*el.id} : std::vector<std::uint64_t>{});
    } else if (el.external_id) {
        auto id = g.get_node_id(*el.external_id);
        own(id ? std::vector<std::uint64_t>{*id} : std::vector<std::uint64_t>{});
    } else {
        for (Symbol label : step.labels) {
            use(g.node_ids_with_label(label));
        }
        // Equality filters narrow through the value index; only the shortest list is kept.
        for (const PropertyConstraint& c : el.constraints) {
            if (c.op != PropertyOperator::Eq || c.value.is_list) continue;
            if (!src.all && src.ids.empty()) break;
            auto ids = g.nodes_with_property(c.key, c.value.scalar);
            if (src.all || ids.size() < src.ids.size()) own(std::move(ids));
        }
    }
    src.bound = src.all ? g.node_count() : src.ids.size();
    return src;
}

namespace {

bool unfiltered(const NodeStep& step, const CandidateSource& src) {
    const NodeElement& el = *step.element;
    return src.all && !el.id && !el.external_id && el.labels.empty() && el.constraints.empty();
}

// The element's candidate count, or any value >= cap once it reaches cap.
std::size_t count_candidates(const GraphView& g, const NodeStep& step, const CandidateSource& src,
                             std::size_t cap) {
    if (unfiltered(step, src)) return src.bound;
    std::size_t n = 0;
    if (cap == 0) return 0;
    for_each_candidate(g, step, src, [&](std::uint64_t) { return ++n < cap; });
    return n;
}

}  // namespace

Result<QueryPlan> plan_query(const GraphView& g, const QuerySpec& spec) {
    const auto& match = spec.match;
    if (match.empty()) return fail(std::string(qmsg::kExecMatchEmpty));
    if (match.size() % 2 == 0) return fail(std::string(qmsg::kExecAlternate));

    QueryPlan plan;
    AliasTable aliases;
    for (std::size_t i = 0; i < match.size(); ++i) {
        if (i % 2 == 0) {
            const auto* el = std::get_if<NodeElement>(&match[i]);
            if (!el) return fail(std::string(qmsg::kExecAlternate));
            if (el->alias.empty()) return fail(qmsg::alias_empty("node alias"));
            QM_TRY(slot, aliases.declare(el->alias, AliasKind::Node));
            QM_CHECK(validate_property_constraints(el->constraints));
            NodeStep step;
            step.slot = slot;
            step.element = el;
            for (const std::string& label : el->labels) {
                auto sym = g.symbols->find(label);
                if (!sym) step.impossible = true;
                else step.labels.push_back(*sym);
            }
            step.constraints = compile_constraints(el->constraints, *g.symbols);
            plan.nodes.push_back(std::move(step));
        } else {
            const auto* el = std::get_if<EdgeElement>(&match[i]);
            if (!el) return fail(std::string(qmsg::kExecAlternate));
            EdgeStep step;
            step.element = el;
            if (el->alias) {
                if (el->alias->empty()) return fail(qmsg::alias_empty("edge alias"));
                QM_TRY(slot, aliases.declare(*el->alias, AliasKind::Edge));
                step.slot = slot;
            }
            QM_CHECK(validate_property_constraints(el->constraints));
            if (el->edge_type) {
                step.typed = true;
                if (auto sym = g.symbols->find(*el->edge_type)) step.type = *sym;
            }
            step.constraints = compile_constraints(el->constraints, *g.symbols);
            plan.edges.push_back(std::move(step));
        }
    }
    plan.slot_count = aliases.declared.size();

    std::vector<std::string_view> reported;
    if (spec.returns) {
        std::unordered_map<std::string_view, bool> seen;
        for (const std::string& alias : *spec.returns) {
            if (alias.empty()) return fail(qmsg::alias_empty("return alias"));
            if (!aliases.by_name.contains(alias)) return fail(qmsg::return_not_declared(alias));
            if (!seen.emplace(alias, true).second) return fail(qmsg::return_duplicated(alias));
            reported.push_back(alias);
        }
    } else {
        reported = aliases.declared;
    }
    std::sort(reported.begin(), reported.end());
    for (std::string_view alias : reported) {
        plan.columns.emplace_back(alias);
        plan.column_slots.push_back(aliases.by_name.at(alias).slot);
    }
    plan.limit = spec.limit;
    return plan;
}

bool node_matches(const GraphView& g, const NodeStep& step, std::uint64_t id, bool exact_floats) {
    const NodeElement& el = *step.element;
    if (step.impossible) return false;
    if (el.id && *el.id != id) return false;
    const NodeSlot& node = g.nodes[id];
    if (el.external_id && node.external_id != *el.external_id) return false;
    if (!step.labels.empty()) {
        auto labels = g.labels_of(id);
        for (Symbol want : step.labels)
            if (std::find(labels.begin(), labels.end(), want) == labels.end()) return false;
    }
    return properties_match(node.props, step.constraints, exact_floats);
}

std::vector<std::uint64_t> node_candidates(const GraphView& g, const NodeStep& step) {
    CandidateSource src = candidate_source(g, step);
    std::vector<std::uint64_t> out;
    if (unfiltered(step, src)) out.reserve(src.bound);
    for_each_candidate(g, step, src, [&](std::uint64_t id) {
        out.push_back(id);
        return true;
    });
    return out;
}

std::size_t choose_anchor(const GraphView& g, const QueryPlan& plan) {
    const std::size_t n = plan.nodes.size();
    if (n == 1) return 0;
    std::vector<CandidateSource> sources;
    sources.reserve(n);
    for (const NodeStep& step : plan.nodes) sources.push_back(candidate_source(g, step));
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return sources[a].bound < sources[b].bound; });
    std::size_t best = n;
    std::size_t best_count = 0;
    for (std::size_t k : order) {
        // k wins with fewer candidates than the best, or as many when it comes earlier.
        std::size_t cap = best == n ? std::numeric_limits<std::size_t>::max()
                                    : best_count + (k < best ? 1 : 0);
        if (cap == 0) continue;
        std::size_t count = count_candidates(g, plan.nodes[k], sources[k], cap);
        if (count < cap) {
            best = k;
            best_count = count;
        }
    }
    return best;
}

}  // namespace qm
