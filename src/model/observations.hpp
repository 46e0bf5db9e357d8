// What is observed about variables and what inference concluded: evidence, traces and
// the latest posterior of each variable.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "core/graph.hpp"
#include "core/records.hpp"
#include "core/result.hpp"
#include "core/view.hpp"

namespace qm::model {

// The payload is not checked against the variable's states: a "state" naming none of
// them is kept and only refused when inference reads it.
[[nodiscard]] Result<std::uint64_t> add_evidence(GraphCore& g, std::uint64_t variable_id, PropertyMap payload);
[[nodiscard]] Result<std::uint64_t> add_trace(GraphCore& g, PropertyMap payload);

// Memory only (loading).
[[nodiscard]] Status insert_loaded_evidence(GraphCore& g, EvidenceRecord record);
[[nodiscard]] Status insert_trace_record(GraphCore& g, TraceRecord record);
// Checks the length against the variable and normalises before replacing.
[[nodiscard]] Status insert_loaded_posterior(GraphCore& g, std::uint64_t variable_id, std::vector<double> values);

// Replaces the latest posteriors of the given variables, all or nothing: every entry is
// checked and normalised first, a stored graph writes all rows in one transaction, and
// memory changes only after that committed. Entries are written in the order given.
[[nodiscard]] Status replace_posteriors(GraphCore& g,
                                        std::vector<std::pair<std::uint64_t, std::vector<double>>> entries);

inline const EvidenceRecord* find_evidence(const GraphView& g, std::uint64_t id) { return g.evidence_record(id); }
inline const TraceRecord* find_trace(const GraphView& g, std::uint64_t id) { return g.trace(id); }
std::optional<EvidenceRecord> get_evidence(const GraphView& g, std::uint64_t id);
std::optional<TraceRecord> get_trace(const GraphView& g, std::uint64_t id);
inline std::uint64_t evidence_count(const GraphView& g) { return g.evidence_count(); }
inline std::uint64_t trace_count(const GraphView& g) { return g.trace_count(); }

}  // namespace qm::model
