// Runs a structured path query: from each candidate of the anchor element, in ascending id
// order, every way to complete the path leftwards is collected first, and each is then
// completed rightwards depth-first, edges in adjacency (ascending id) order. The row limit
// stops the rightward walk as soon as it is reached.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/view.hpp"
#include "core/result.hpp"
#include "query/query_spec.hpp"

namespace qm {

// One row per matching path; row r's ids are ids[r * columns.size(), +columns.size()),
// in column order (ascending alias text).
struct QueryRows {
    std::vector<std::string> columns;
    std::vector<std::uint64_t> ids;
    std::size_t count = 0;
};

[[nodiscard]] Result<QueryRows> query(const GraphView& g, const QuerySpec& spec);

}  // namespace qm
