// Factors and their tables. A table always arrives with a new factor, and the two are
// one write: the factor row, its op-log row and the table row commit together or not at
// all, so no factor is ever left without the table it was made for.
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

inline constexpr std::string_view kFactorTableFunction = "factor_table";
inline constexpr std::string_view kCpdFunction = "cpd";

// A factor without a table; returns its id.
[[nodiscard]] Result<std::uint64_t> add_factor(GraphCore& g, std::vector<std::uint64_t> input_variables,
                                               std::vector<std::uint64_t> output_variables, std::string function,
                                               PropertyMap parameters);
// A new "factor_table" factor reading `variables`, with its row-major table.
[[nodiscard]] Result<std::uint64_t> add_factor_table(GraphCore& g, std::vector<std::uint64_t> variables,
                                                     std::vector<double> values);
// A new "cpd" factor reading the parents and writing the child, with its CPD table.
[[nodiscard]] Result<std::uint64_t> add_cpd(GraphCore& g, std::uint64_t variable_id,
                                            std::vector<std::uint64_t> parent_variables,
                                            std::vector<double> values);

// Memory only, for loading and after a committed write.
[[nodiscard]] Status insert_factor_record(GraphCore& g, FactorRecord record);
[[nodiscard]] Status insert_factor_table_record(GraphCore& g, FactorTableRecord record);
// A stored table: validated as a new one would be, and its factor must be present.
[[nodiscard]] Status insert_loaded_factor_table(GraphCore& g, FactorTableRecord record);

inline const FactorRecord* find_factor(const GraphView& g, std::uint64_t id) { return g.factor(id); }
std::optional<FactorRecord> get_factor(const GraphView& g, std::uint64_t id);
inline const FactorTableRecord* find_factor_table(const GraphView& g, std::uint64_t factor_id) {
    return g.factor_table(factor_id);
}
inline std::uint64_t factor_count(const GraphView& g) { return g.factor_count(); }

}  // namespace qm::model
