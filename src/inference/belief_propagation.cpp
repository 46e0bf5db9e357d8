#include "inference/belief_propagation.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include "core/store.hpp"
#include "inference/messages.hpp"
#include "model/model_messages.hpp"
#include "model/observations.hpp"
#include "model/tables.hpp"

namespace qm::inference {

namespace {

constexpr std::string_view kSchedule = "residual_async";

// The stored evidence records in ascending id (a record's "state" text, when it has one,
// replaces an earlier record's for the same variable), then the caller's entries on top.
// Every state is checked against its variable.
Result<EvidenceMap> collect_evidence(const GraphView& g, const EvidenceMap& given) {
    EvidenceMap out;
    for (const auto& rec : g.evidence) {
        if (!rec) continue;
        const PropertyValue* state = rec->payload.find("state");
        if (!state || kind_of(*state) != ValueKind::String) continue;
        const std::string& text = std::get<std::string>(*state);
        QM_CHECK(model::state_index(g, rec->variable_id, text));
        out[rec->variable_id] = text;
    }
    for (const auto& [v, state] : given) {
        QM_CHECK(model::state_index(g, v, state));
        out[v] = state;
    }
    return out;
}

std::uint64_t saturating_mul(std::uint64_t a, std::uint64_t b) {
    std::uint64_t out = 0;
    if (__builtin_mul_overflow(a, b, &out)) return std::numeric_limits<std::uint64_t>::max();
    return out;
}

// The region as local indexes: variable i is active.variables[i].
struct LocalIndex {
    std::span<const std::uint64_t> ids;
    std::optional<std::size_t> of(std::uint64_t v) const {
        auto it = std::lower_bound(ids.begin(), ids.end(), v);
        if (it == ids.end() || *it != v) return std::nullopt;
        return static_cast<std::size_t>(it - ids.begin());
    }
};

// Compiles the active factors into the propagation engine, in ascending factor id.
Result<ResidualPropagation> build_engine(const GraphView& g, const ActiveSubgraph& active,
                                         const EvidenceMap& evidence) {
    const LocalIndex local{active.variables};
    std::vector<std::size_t> cards(active.variables.size());
    std::vector<std::optional<std::size_t>> observed(active.variables.size());
    for (std::size_t i = 0; i < active.variables.size(); ++i) {
        const VariableRecord* rec = g.variable(active.variables[i]);
        if (!rec) return fail(model::msg::variable_not_found(active.variables[i]));
        cards[i] = rec->states.size();
    }
    for (const auto& [v, state] : evidence) {
        auto i = local.of(v);
        if (!i) continue;
        QM_TRY(index, model::state_index(g, v, state));
        observed[*i] = static_cast<std::size_t>(index);
    }
    ResidualPropagation engine(cards, std::move(observed));
    std::vector<std::size_t> vars;
    std::vector<std::uint64_t> table_cards;
    for (std::uint64_t f : active.factors) {
        const FactorTableRecord* found = g.factor_table(f);
        if (!found) return fail(msg::factor_table_not_found(f));
        const FactorTableRecord& table = *found;
        vars.clear();
        table_cards.clear();
        for (std::uint64_t v : table.variables) {
            const VariableRecord* rec = g.variable(v);
            if (!rec) return fail(model::msg::variable_not_found(v));
            auto i = local.of(v);
            if (!i) return fail(msg::variable_not_in_factor(v, f));
            vars.push_back(*i);
            table_cards.push_back(rec->states.size());
        }
        const std::vector<std::uint64_t> strides = model::table_strides(table_cards, table.is_cpd);
        engine.add_factor(f, vars, strides, table.values);
    }
    return engine;
}

// All or nothing: the new posteriors join every earlier one, the store gets all rows in one
// transaction, and memory changes only after it committed, so a failed write leaves no
// partial posteriors anywhere.
Status persist_posteriors(GraphCore& g, const std::vector<std::pair<std::uint64_t, std::vector<double>>>& fresh) {
    std::map<std::uint64_t, std::vector<double>> all(g.posteriors.begin(), g.posteriors.end());
    for (const auto& [v, values] : fresh) all[v] = values;
    if (g.has_store()) {
        std::vector<std::pair<std::uint64_t, std::vector<double>>> rows(all.begin(), all.end());
        QM_CHECK(g.store->upsert_posteriors(rows));
    }
    for (const auto& [v, values] : fresh) g.posteriors[v] = values;
    return ok();
}

}  // namespace

Result<BeliefResult> belief_propagation(GraphCore& g, std::span<const std::uint64_t> query_variables,
                                        const EvidenceMap& evidence_arg, std::uint64_t radius,
                                        std::uint64_t max_iters, bool persist, double tolerance, double damping) {
    if (!(std::isfinite(tolerance) && tolerance >= 0.0)) return fail(std::string(msg::kTolerance));
    if (!(damping >= 0.0 && damping <= 1.0)) return fail(std::string(msg::kDamping));
    // Every read goes through one view of the graph as it stands; only persisting writes,
    // after the last read.
    const GraphView view(g);
    QM_TRY(evidence, collect_evidence(view, evidence_arg));

    BeliefResult out;
    QM_TRY(active, compile_active_subgraph(view, query_variables, evidence, radius, kDefaultMaxNodes,
                                           kDefaultMaxFactors));
    out.active = std::move(active);
    out.warnings = active_subgraph_warnings(out.active);

    QM_TRY(engine, build_engine(view, out.active, evidence));
    const auto& ids = out.active.variables;
    const ResidualPropagation::BaseFn prior_of = [&](std::size_t i) {
        return model::distribution_from_properties(view, ids[i], view.variable(ids[i])->prior, "prior");
    };
    QM_TRY(passes, engine.run(max_iters, tolerance, damping, prior_of));
    out.iterations = passes.iterations;
    out.messages_updated = passes.messages_updated;
    out.max_residual = passes.max_residual;
    out.converged = passes.converged;

    std::span<const std::uint64_t> outputs = query_variables.empty() ? std::span<const std::uint64_t>(ids)
                                                                     : query_variables;
    if (persist) QM_CHECK(g.ensure_store_current());

    const LocalIndex local{ids};
    std::vector<std::pair<std::uint64_t, std::vector<double>>> fresh;
    std::map<std::uint64_t, model::LabelDistribution> beliefs;
    for (std::uint64_t v : outputs) {
        auto i = local.of(v);
        if (!i) return fail(model::msg::variable_not_found(v));
        QM_TRY(belief, engine.belief(*i, prior_of));
        QM_TRY(labelled, model::label_distribution(view, v, belief));
        beliefs[v] = std::move(labelled);
        if (persist) fresh.emplace_back(v, std::move(belief));
    }
    out.beliefs.assign(beliefs.begin(), beliefs.end());

    if (!out.converged) out.warnings.push_back(msg::did_not_converge(max_iters));
    if (max_iters > 0 && saturating_mul(out.iterations, 10) >= saturating_mul(max_iters, 9))
        out.warnings.push_back(msg::used_iterations(out.iterations, max_iters));
    out.diagnostics = belief_diagnostics(out.active, out.iterations, max_iters, out.messages_updated,
                                         out.converged, out.max_residual, tolerance, damping);
    out.schedule = kSchedule;

    if (persist) {
        QM_CHECK(persist_posteriors(g, fresh));
        QM_TRY(trace, model::add_trace(g, trace_payload(out.active, out.iterations, out.messages_updated,
                                                        out.converged, out.max_residual)));
        out.trace_id = trace;
    }
    return out;
}

Diagnostics belief_diagnostics(const ActiveSubgraph& active, std::uint64_t iterations, std::uint64_t max_iters,
                               std::uint64_t messages_updated, bool converged, double max_residual,
                               double tolerance, double damping) {
    return Diagnostics{
        {"active_factors", std::uint64_t{active.factors.size()}},
        {"active_graph_nodes", std::uint64_t{active.graph_nodes.size()}},
        {"active_variables", std::uint64_t{active.variables.size()}},
        {"boundary_variables", std::uint64_t{active.boundary_variables.size()}},
        {"converged", converged},
        {"damping", damping},
        {"iterations", iterations},
        {"max_iters", max_iters},
        {"max_residual", max_residual},
        {"messages_updated", messages_updated},
        {"tolerance", tolerance},
        {"truncated", active.truncated},
    };
}

PropertyMap trace_payload(const ActiveSubgraph& active, std::uint64_t iterations, std::uint64_t messages_updated,
                          bool converged, double max_residual) {
    auto count = [](std::uint64_t n) { return static_cast<std::int64_t>(n); };
    PropertyMap p;
    p.set("kind", std::string("belief_propagation"));
    p.set("schedule", std::string(kSchedule));
    p.set("iterations", count(iterations));
    p.set("messages_updated", count(messages_updated));
    p.set("converged", converged);
    p.set("max_residual", max_residual);
    p.set("active_variables", count(active.variables.size()));
    p.set("active_factors", count(active.factors.size()));
    p.set("active_graph_nodes", count(active.graph_nodes.size()));
    p.set("truncated", active.truncated);
    return p;
}

}  // namespace qm::inference
