// Random variables: creation with validation, the stored write, the memory insert used
// by both creation and loading, and lookups.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/graph.hpp"
#include "core/records.hpp"
#include "core/result.hpp"
#include "core/view.hpp"

namespace qm::model {

// The states a variable of `domain` gets: the given ones (checked: non-empty list, no
// empty state, no repeats), else ["false", "true"] for the domain "binary".
[[nodiscard]] Result<std::vector<std::string>> states_for_domain(const std::string& domain,
                                                                 std::optional<std::vector<std::string>> states);

// Validates everything, writes the record (store, op log), then inserts it; returns its id.
[[nodiscard]] Result<std::uint64_t> add_variable(GraphCore& g, std::string domain,
                                                 std::optional<std::uint64_t> owner_id,
                                                 std::optional<std::vector<std::string>> states,
                                                 PropertyMap prior, PropertyMap posterior);

// Memory only: refuses an occupied slot, raises next_variable_id past the id.
[[nodiscard]] Status insert_variable_record(GraphCore& g, VariableRecord record);

// nullptr when no variable has this id.
inline const VariableRecord* find_variable(const GraphView& g, std::uint64_t id) { return g.variable(id); }
std::optional<VariableRecord> get_variable(const GraphView& g, std::uint64_t id);
[[nodiscard]] Result<std::vector<std::string>> variable_states(const GraphView& g, std::uint64_t id);
inline std::uint64_t variable_count(const GraphView& g) { return g.variable_count(); }

}  // namespace qm::model
