// Algorithm results as Python values.
#include "py_api/args.hpp"
#include "py_api/compute_convert.hpp"
#include "py_api/handles.hpp"

namespace qm::py {

PyObject* shortest_path_to_py(const std::optional<WeightedPath>& path) {
    if (!path) Py_RETURN_NONE;
    PyRef nodes = PyRef::steal(py_u64_list(path->nodes));
    if (!nodes) return nullptr;
    PyRef distance = PyRef::steal(PyFloat_FromDouble(path->distance));
    if (!distance) return nullptr;
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict) return nullptr;
    if (PyDict_SetItemString(dict.get(), "nodes", nodes.get()) < 0) return nullptr;
    if (PyDict_SetItemString(dict.get(), "distance", distance.get()) < 0) return nullptr;
    return dict.release();
}

PyObject* scores_to_py(const ScoreList& scores) {
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict) return nullptr;
    for (const auto& [node, score] : scores) {
        PyRef key = PyRef::steal(py_u64(node));
        if (!key) return nullptr;
        PyRef value = PyRef::steal(PyFloat_FromDouble(score));
        if (!value) return nullptr;
        if (PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) return nullptr;
    }
    return dict.release();
}

PyObject* components_to_py(const std::vector<std::vector<std::uint64_t>>& components) {
    return py_list(components, py_u64_list);
}

PyObject* compute_result_to_py(PyObject* any, ComputeResult& result) {
    struct ToPy {
        PyObject* any;
        PyObject* operator()(BfsOutput& r) const { return py_u64_list(r.nodes); }
        PyObject* operator()(ShortestPathOutput& r) const { return shortest_path_to_py(r.path); }
        PyObject* operator()(ComponentsOutput& r) const { return components_to_py(r.components); }
        PyObject* operator()(PageRankOutput& r) const { return scores_to_py(r.scores); }
        PyObject* operator()(RandomWalkOutput& r) const { return py_u64_list(r.nodes); }
        PyObject* operator()(SubgraphOutput& r) const { return make_snapshot(any, std::move(r.graph)); }
    };
    return std::visit(ToPy{any}, result);
}

}  // namespace qm::py
