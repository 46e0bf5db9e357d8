// Running a parsed statement against a WorkingGraph: matching, filtering, projection,
// UNION, and the hand-over to CREATE and MERGE. Rows, their order and the errors raised
// are those of the plain algorithm that scans every node as a start and every edge per
// hop; the matcher only finds the same rows with less work (see choose_start).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/result.hpp"
#include "cypher/statement.hpp"
#include "cypher/value.hpp"
#include "cypher/working_graph.hpp"

namespace qm::cypher {

using Params = std::map<std::string, CypherValue, std::less<>>;

struct CypherResult {
    std::vector<std::string> keys;
    std::vector<std::vector<CypherValue>> rows;
    std::string statement_type = "read";
    std::uint64_t nodes_created = 0;
    std::uint64_t relationships_created = 0;
    std::uint64_t properties_set = 0;
};

[[nodiscard]] Result<CypherResult> execute_query(WorkingGraph& graph, const Query& query, const Params& params,
                                                 bool write_allowed);

}  // namespace qm::cypher
