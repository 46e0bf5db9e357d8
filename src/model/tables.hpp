// Factor tables: their validation, their layout (strides) and the normalisation every
// distribution goes through. Pure functions over the graph's variables; nothing here writes.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/graph.hpp"
#include "core/result.hpp"
#include "core/view.hpp"

namespace qm::model {

// How far a CPD child distribution's sum may stray from 1.0 and still count as one.
inline constexpr double kCpdSumTolerance = 1e-9;

// Checks a table over `variables` (which must exist, without repeats) against the
// variables' cardinalities; for a CPD also checks every child distribution. The values
// are never changed: a CPD is stored exactly as given.
[[nodiscard]] Status validate_factor_table(const GraphView& graph, std::span<const std::uint64_t> variables,
                                           std::span<const double> values, bool is_cpd);

// The values divided by their sum (added left to right from -0.0); fails unless the sum
// is finite and strictly positive.
[[nodiscard]] Result<std::vector<double>> normalize(std::span<const double> values);

// The flat-index stride of each table variable. Ordinary tables are row-major (last
// variable fastest); a CPD puts the child fastest, then the parents from last to first.
std::vector<std::uint64_t> table_strides(std::span<const std::uint64_t> cardinalities, bool is_cpd);

// n copies of 1/n.
std::vector<double> uniform(std::size_t n);

}  // namespace qm::model
