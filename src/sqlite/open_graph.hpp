// Opening a file-backed graph: the one place a store is made and handed to the core.
#pragma once

#include <string>

#include "core/graph.hpp"
#include "core/result.hpp"

namespace qm {

// Opens or creates the database at path and loads the whole graph from it.
[[nodiscard]] Result<GraphCore> open_graph_file(const std::string& path);

}  // namespace qm
