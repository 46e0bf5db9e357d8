// Python forms of algorithm results and batch jobs.
#pragma once

#include "py_api/pyref.hpp"

#include <vector>

#include "core/compute_batch.hpp"

namespace qm::py {

// None, or {"nodes": [...], "distance": float}.
PyObject* shortest_path_to_py(const std::optional<WeightedPath>& path);
// A dict filled in ascending node-id order.
PyObject* scores_to_py(const ScoreList& scores);
// A list of lists of ints.
PyObject* components_to_py(const std::vector<std::vector<std::uint64_t>>& components);

// Converts and checks every job before any runs; false with ValueError (or a pending
// Python error raised by the user's own objects) on the first problem.
bool compute_jobs_from_py(PyObject* jobs, std::vector<ComputeJob>& out);

// The Python value of one result; a subgraph becomes a GraphSnapshot owning its graph.
// `any` is any object of this module, used to reach the module's types.
PyObject* compute_result_to_py(PyObject* any, ComputeResult& result);

}  // namespace qm::py
