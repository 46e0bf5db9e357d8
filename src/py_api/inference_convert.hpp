// Python forms of the inference engine's inputs and results: the evidence dict, the active
// region, belief propagation's result and local propagation's scores. Result dicts list
// their keys in a fixed order, so results read the same on every run.
#pragma once

#include "py_api/pyref.hpp"

#include <cstdint>
#include <span>
#include <string_view>
#include <utility>

#include "inference/active_subgraph.hpp"
#include "inference/belief_propagation.hpp"

namespace qm::py {

// dict int -> str, walked once in dict order; the first bad entry raises ValueError
// ("evidence keys must be variable ids" / "evidence values must be state strings"), a value
// that is no dict a TypeError. None is the empty map. False with the Python error set.
bool evidence_from_py(PyObject* o, inference::EvidenceMap& out);

PyObject* active_subgraph_to_py(const inference::ActiveSubgraph& active);
PyObject* belief_result_to_py(const inference::BeliefResult& result);
PyObject* diagnostics_to_py(const inference::Diagnostics& diagnostics);
// node id -> score, ascending ids.
PyObject* scores_to_py(std::span<const std::pair<std::uint64_t, double>> scores);

}  // namespace qm::py
