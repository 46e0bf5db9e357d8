#include "model/observations.hpp"

#include "model/model_messages.hpp"
#include "model/tables.hpp"
#include "model/variables.hpp"
#include "model/write_protocol.hpp"

namespace qm::model {

namespace {

Status place_evidence(GraphCore& g, EvidenceRecord record) {
    return place_record(g.evidence, g.next_evidence_id, std::move(record), msg::evidence_id_exists);
}

Status place_trace(GraphCore& g, TraceRecord record) {
    return place_record(g.traces, g.next_trace_id, std::move(record), msg::trace_id_exists);
}

Result<std::vector<double>> checked_posterior(const GraphView& g, std::uint64_t variable_id,
                                              std::span<const double> values) {
    const VariableRecord* v = find_variable(g, variable_id);
    if (!v) return fail(msg::variable_not_found(variable_id));
    if (values.size() != v->states.size()) return fail(msg::posterior_length(variable_id));
    return normalize(values);
}

}  // namespace

Result<std::uint64_t> add_evidence(GraphCore& g, std::uint64_t variable_id, PropertyMap payload) {
    if (!find_variable(g, variable_id)) return fail(msg::variable_not_found(variable_id));
    QM_CHECK(validate_properties(payload));
    if (g.next_evidence_id == ~std::uint64_t{0}) return fail(std::string(msg::kEvidenceIdOverflow));
    EvidenceRecord record;
    record.id = g.next_evidence_id;
    record.variable_id = variable_id;
    record.payload = std::move(payload);
    QM_CHECK(write_through(g, [&](GraphStore& s) { return s.insert_evidence(record); }));
    const std::uint64_t id = record.id;
    QM_CHECK(place_evidence(g, std::move(record)));
    return id;
}

Result<std::uint64_t> add_trace(GraphCore& g, PropertyMap payload) {
    QM_CHECK(validate_properties(payload));
    if (g.next_trace_id == ~std::uint64_t{0}) return fail(std::string(msg::kTraceIdOverflow));
    TraceRecord record;
    record.id = g.next_trace_id;
    record.payload = std::move(payload);
    QM_CHECK(write_through(g, [&](GraphStore& s) { return s.insert_trace(record); }));
    const std::uint64_t id = record.id;
    QM_CHECK(place_trace(g, std::move(record)));
    return id;
}

Status insert_loaded_evidence(GraphCore& g, EvidenceRecord record) {
    if (!find_variable(g, record.variable_id)) return fail(msg::variable_not_found(record.variable_id));
    return place_evidence(g, std::move(record));
}

Status insert_trace_record(GraphCore& g, TraceRecord record) { return place_trace(g, std::move(record)); }

Status insert_loaded_posterior(GraphCore& g, std::uint64_t variable_id, std::vector<double> values) {
    QM_TRY(normalized, checked_posterior(g, variable_id, values));
    g.posteriors[variable_id] = std::move(normalized);
    return ok();
}

Status replace_posteriors(GraphCore& g, std::vector<std::pair<std::uint64_t, std::vector<double>>> entries) {
    for (auto& [id, values] : entries) {
        QM_TRY(normalized, checked_posterior(g, id, values));
        values = std::move(normalized);
    }
    QM_CHECK(write_through(g, [&](GraphStore& s) { return s.upsert_posteriors(entries); }));
    for (auto& [id, values] : entries) g.posteriors[id] = std::move(values);
    return ok();
}

std::optional<EvidenceRecord> get_evidence(const GraphView& g, std::uint64_t id) {
    if (const EvidenceRecord* e = find_evidence(g, id)) return *e;
    return std::nullopt;
}

std::optional<TraceRecord> get_trace(const GraphView& g, std::uint64_t id) {
    if (const TraceRecord* t = find_trace(g, id)) return *t;
    return std::nullopt;
}

}  // namespace qm::model
