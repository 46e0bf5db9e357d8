// Graph and GraphSnapshot methods of the probabilistic model: creating variables,
// factors, tables, CPDs, evidence and traces, reading them back, and posteriors.
#include "model/distributions.hpp"
#include "model/factors.hpp"
#include "model/observations.hpp"
#include "model/variables.hpp"
#include "py_api/args.hpp"
#include "py_api/errors.hpp"
#include "py_api/graph_methods.hpp"
#include "py_api/methods.hpp"
#include "py_api/model_records.hpp"
#include "py_api/properties.hpp"

namespace qm::py {

namespace {

std::string type_name_of(PyObject* o) {
    PyRef name = PyRef::steal(PyType_GetName(Py_TYPE(o)));
    const char* text = name ? PyUnicode_AsUTF8(name.get()) : nullptr;
    if (!text) {
        PyErr_Clear();
        return "object";
    }
    return text;
}

// A property dict argument: a dict, or None for the empty map.
bool map_arg(Call& c, std::size_t i, PropertyMap& out) {
    PyObject* o = c.arg(i);
    if (o != Py_None && !PyDict_Check(o)) {
        raise_argument_type_error(c.name(i), "'" + type_name_of(o) + "' object cannot be converted to 'PyDict'");
        return false;
    }
    return properties_from_py(o, out);
}

// A sequence of numbers (ints or floats), not a str.
bool f64_list_arg(Call& c, std::size_t i, std::vector<double>& out) {
    PyObject* o = c.arg(i);
    const std::string& name = c.name(i);
    if (PyUnicode_Check(o)) {
        raise_argument_type_error(name, "Can't extract `str` to `Vec`");
        return false;
    }
    PyRef seq = PyRef::steal(PySequence_Fast(o, ""));
    if (!seq) {
        PyErr_Clear();
        raise_argument_type_error(name, "'" + type_name_of(o) + "' object cannot be converted to 'Sequence'");
        return false;
    }
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
    PyObject** items = PySequence_Fast_ITEMS(seq.get());
    std::vector<double> values(static_cast<std::size_t>(n));
    for (Py_ssize_t k = 0; k < n; ++k) {
        PyObject* item = items[k];
        if (PyFloat_CheckExact(item)) {
            values[k] = PyFloat_AS_DOUBLE(item);
        } else if (!to_f64(item, name, values[k])) {
            return false;
        }
    }
    out = std::move(values);
    return true;
}

PyObject* distribution_to_py(const model::LabelDistribution& dist) {
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict) return nullptr;
    for (const auto& [state, p] : dist) {
        PyRef key = PyRef::steal(py_text(state));
        PyRef value = PyRef::steal(PyFloat_FromDouble(p));
        if (!key || !value || PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) return nullptr;
    }
    return dict.release();
}

PyObject* id_result(const Result<std::uint64_t>& id) { return check(id) ? py_u64(*id) : nullptr; }

// ---- writes

PyObject* add_variable(Call& c) {
    std::string domain;
    std::optional<std::uint64_t> owner_id;
    PropertyMap prior, posterior;
    std::optional<std::vector<std::string>> states;
    if (!c.text(0, domain) || !c.optional_u64(1, owner_id) || !map_arg(c, 2, prior) || !map_arg(c, 3, posterior))
        return nullptr;
    if (!c.is_none(4)) {
        states.emplace();
        if (!c.text_list(4, *states)) return nullptr;
    }
    GraphCore* g = c.core();
    if (!g) return nullptr;
    return id_result(model::add_variable(*g, std::move(domain), owner_id, std::move(states), std::move(prior),
                                         std::move(posterior)));
}

PyObject* add_factor(Call& c) {
    std::vector<std::uint64_t> inputs, outputs;
    std::string function;
    PropertyMap parameters;
    if (!c.u64_list(0, inputs) || !c.u64_list(1, outputs) || !c.text(2, function) || !map_arg(c, 3, parameters))
        return nullptr;
    GraphCore* g = c.core();
    if (!g) return nullptr;
    return id_result(
        model::add_factor(*g, std::move(inputs), std::move(outputs), std::move(function), std::move(parameters)));
}

PyObject* add_factor_table(Call& c) {
    std::vector<std::uint64_t> variables;
    std::vector<double> values;
    if (!c.u64_list(0, variables) || !f64_list_arg(c, 1, values)) return nullptr;
    GraphCore* g = c.core();
    if (!g) return nullptr;
    return id_result(model::add_factor_table(*g, std::move(variables), std::move(values)));
}

PyObject* add_cpd(Call& c) {
    std::uint64_t child = 0;
    std::vector<std::uint64_t> parents;
    std::vector<double> values;
    if (!c.u64(0, child) || !c.u64_list(1, parents) || !f64_list_arg(c, 2, values)) return nullptr;
    GraphCore* g = c.core();
    if (!g) return nullptr;
    return id_result(model::add_cpd(*g, child, std::move(parents), std::move(values)));
}

PyObject* add_evidence(Call& c) {
    std::uint64_t variable_id = 0;
    PropertyMap payload;
    if (!c.u64(0, variable_id) || !map_arg(c, 1, payload)) return nullptr;
    GraphCore* g = c.core();
    if (!g) return nullptr;
    return id_result(model::add_evidence(*g, variable_id, std::move(payload)));
}

PyObject* add_trace(Call& c) {
    PropertyMap payload;
    if (!map_arg(c, 0, payload)) return nullptr;
    GraphCore* g = c.core();
    if (!g) return nullptr;
    return id_result(model::add_trace(*g, std::move(payload)));
}

// ---- reads

// Looks up one record by the id in argument 0; KeyError "{kind} {id} not found" if absent.
template <class Find, class Make>
PyObject* lookup(Call& c, const char* kind, Find&& find, Make&& make) {
    std::uint64_t id = 0;
    if (!c.u64(0, id)) return nullptr;
    GraphCore* g = c.core();
    if (!g) return nullptr;
    auto record = find(*g, id);
    if (!record) return raise_not_found(kind, id);
    return make(c.state(), std::move(*record));
}

PyObject* get_variable(Call& c) { return lookup(c, "variable", model::get_variable, make_variable); }
PyObject* get_factor(Call& c) { return lookup(c, "factor", model::get_factor, make_factor); }
PyObject* get_evidence(Call& c) { return lookup(c, "evidence", model::get_evidence, make_evidence); }
PyObject* get_trace(Call& c) { return lookup(c, "trace", model::get_trace, make_trace); }

template <std::uint64_t (*Count)(const GraphView&)>
PyObject* count(Call& c) {
    GraphCore* g = c.core();
    return g ? py_u64(Count(*g)) : nullptr;
}

PyObject* posterior(Call& c) {
    std::uint64_t id = 0;
    if (!c.u64(0, id)) return nullptr;
    GraphCore* g = c.core();
    if (!g) return nullptr;
    auto dist = model::posterior(*g, id);
    if (!check(dist)) return nullptr;
    return distribution_to_py(*dist);
}

constexpr auto X = Borrow::Exclusive;
constexpr auto S = Borrow::Shared;

constexpr MethodDef kWrites[] = {
    {"add_variable", "domain, owner_id=None, prior=None, posterior=None, states=None", X, add_variable},
    {"add_factor", "input_variables, output_variables, function, parameters=None", X, add_factor},
    {"add_factor_table", "variables, values", X, add_factor_table},
    {"add_cpd", "variable_id, parent_variables, values", X, add_cpd},
    {"add_evidence", "variable_id, payload=None", X, add_evidence},
    {"add_trace", "payload=None", X, add_trace},
};

// Shared with GraphSnapshot.
constexpr MethodDef kReads[] = {
    {"get_variable", "variable_id", S, get_variable},
    {"get_factor", "factor_id", S, get_factor},
    {"variable_count", "", S, count<model::variable_count>},
    {"factor_count", "", S, count<model::factor_count>},
    {"get_evidence", "evidence_id", S, get_evidence},
    {"get_trace", "trace_id", S, get_trace},
    {"evidence_count", "", S, count<model::evidence_count>},
    {"trace_count", "", S, count<model::trace_count>},
};

constexpr MethodDef kGraphOnly[] = {
    {"posterior", "variable_id", S, posterior},
};

}  // namespace

void add_model_methods(std::vector<PyMethodDef>& graph, std::vector<PyMethodDef>& snapshot) {
    append_methods<kWrites, std::size(kWrites), Owner::Graph>(graph);
    append_methods<kReads, std::size(kReads), Owner::Graph>(graph);
    append_methods<kGraphOnly, std::size(kGraphOnly), Owner::Graph>(graph);
    append_methods<kReads, std::size(kReads), Owner::Snapshot>(snapshot);
}

}  // namespace qm::py
