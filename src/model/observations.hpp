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

const EvidenceRecord* find_evidence(const GraphCore& g, std::uint64_t id);
const TraceRecord* find_trace(const GraphCore& g, std::uint64_t id);
std::optional<EvidenceRecord> get_evidence(const GraphCore& g, std::uint64_t id);
std::optional<TraceRecord> get_trace(const GraphCore& g, std::uint64_t id);
std::uint64_t evidence_count(const GraphCore& g);
std::uint64_t trace_count(const GraphCore& g);

}  // namespace qm::model
