#include "py_api/inference_convert.hpp"

#include "py_api/args.hpp"
#include "py_api/binding_messages.hpp"
#include "py_api/errors.hpp"

namespace qm::py {

namespace {

constexpr std::string_view kEvidenceKeys = "evidence keys must be variable ids";
constexpr std::string_view kEvidenceValues = "evidence values must be state strings";

// Sets d[key] = value, stealing value; false with the error set.
bool set_item(PyObject* d, const char* key, PyObject* value) {
    PyRef v = PyRef::steal(value);
    return v && PyDict_SetItemString(d, key, v.get()) == 0;
}

bool set_item(PyObject* d, PyObject* key, PyObject* value) {
    PyRef k = PyRef::steal(key);
    PyRef v = PyRef::steal(value);
    return k && v && PyDict_SetItem(d, k.get(), v.get()) == 0;
}

PyObject* label_distribution_to_py(const model::LabelDistribution& dist) {
    PyRef d = PyRef::steal(PyDict_New());
    if (!d) return nullptr;
    for (const auto& [state, p] : dist)
        if (!set_item(d.get(), py_text(state), PyFloat_FromDouble(p))) return nullptr;
    return d.release();
}

PyObject* diagnostic_to_py(const inference::DiagnosticValue& v) {
    if (const auto* n = std::get_if<std::uint64_t>(&v)) return py_u64(*n);
    if (const auto* b = std::get_if<bool>(&v)) return PyBool_FromLong(*b);
    return PyFloat_FromDouble(std::get<double>(v));
}

}  // namespace

bool evidence_from_py(PyObject* o, inference::EvidenceMap& out) {
    out.clear();
    if (o == Py_None) return true;
    if (!PyDict_Check(o)) {
        raise_type_error(msg::cannot_convert(type_name_of(o), "PyDict"));
        return false;
    }
    // The items are copied out first, so keys whose __index__ runs Python code cannot
    // disturb the walk over the dict.
    PyRef items = PyRef::steal(PyDict_Items(o));
    if (!items) return false;
    for (Py_ssize_t i = 0, n = PyList_GET_SIZE(items.get()); i < n; ++i) {
        PyObject* pair = PyList_GET_ITEM(items.get(), i);
        PyObject* key = PyTuple_GET_ITEM(pair, 0);
        PyObject* value = PyTuple_GET_ITEM(pair, 1);
        PyRef index = PyRef::steal(PyIndex_Check(key) ? PyNumber_Index(key) : nullptr);
        unsigned long long id = 0;
        if (index) {
            id = PyLong_AsUnsignedLongLong(index.get());
            if (id == static_cast<unsigned long long>(-1) && PyErr_Occurred()) index = PyRef();
        }
        if (!index) {
            PyErr_Clear();
            raise_value_error(kEvidenceKeys);
            return false;
        }
        if (!PyUnicode_Check(value)) {
            raise_value_error(kEvidenceValues);
            return false;
        }
        std::string_view state;
        if (!utf8_of(value, state)) return false;
        out[id] = std::string(state);
    }
    return true;
}

PyObject* active_subgraph_to_py(const inference::ActiveSubgraph& active) {
    PyRef d = PyRef::steal(PyDict_New());
    if (!d || !set_item(d.get(), "variables", py_u64_list(active.variables)) ||
        !set_item(d.get(), "factors", py_u64_list(active.factors)) ||
        !set_item(d.get(), "graph_nodes", py_u64_list(active.graph_nodes)) ||
        !set_item(d.get(), "boundary_variables", py_u64_list(active.boundary_variables)) ||
        !set_item(d.get(), "truncated", PyBool_FromLong(active.truncated)))
        return nullptr;
    return d.release();
}

PyObject* diagnostics_to_py(const inference::Diagnostics& diagnostics) {
    PyRef d = PyRef::steal(PyDict_New());
    if (!d) return nullptr;
    for (const auto& [key, value] : diagnostics)
        if (!set_item(d.get(), key.c_str(), diagnostic_to_py(value))) return nullptr;
    return d.release();
}

PyObject* belief_result_to_py(const inference::BeliefResult& r) {
    PyRef beliefs = PyRef::steal(PyDict_New());
    if (!beliefs) return nullptr;
    for (const auto& [v, dist] : r.beliefs)
        if (!set_item(beliefs.get(), py_u64(v), label_distribution_to_py(dist))) return nullptr;
    PyRef d = PyRef::steal(PyDict_New());
    if (!d || !set_item(d.get(), "beliefs", beliefs.release()) ||
        !set_item(d.get(), "active", active_subgraph_to_py(r.active)) ||
        !set_item(d.get(), "schedule", py_text(r.schedule)) ||
        !set_item(d.get(), "iterations", py_u64(r.iterations)) ||
        !set_item(d.get(), "messages_updated", py_u64(r.messages_updated)) ||
        !set_item(d.get(), "converged", PyBool_FromLong(r.converged)) ||
        !set_item(d.get(), "max_residual", PyFloat_FromDouble(r.max_residual)) ||
        !set_item(d.get(), "trace_id", r.trace_id ? py_u64(*r.trace_id) : Py_NewRef(Py_None)) ||
        !set_item(d.get(), "warnings", py_text_list(r.warnings)) ||
        !set_item(d.get(), "diagnostics", diagnostics_to_py(r.diagnostics)))
        return nullptr;
    return d.release();
}

PyObject* scores_to_py(std::span<const std::pair<std::uint64_t, double>> scores) {
    PyRef d = PyRef::steal(PyDict_New());
    if (!d) return nullptr;
    for (const auto& [node, score] : scores)
        if (!set_item(d.get(), py_u64(node), PyFloat_FromDouble(score))) return nullptr;
    return d.release();
}

}  // namespace qm::py
