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

// A list of numbers for table values: any sequence of ints and floats except a str.
using Values = std::vector<double>;

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

struct AddVariableArgs {
    std::string domain;
    std::optional<std::uint64_t> owner_id;
    DictArg prior;
    DictArg posterior;
    std::optional<std::vector<std::string>> states;
    static constexpr auto params = declare(param("domain", &AddVariableArgs::domain),
                                           param("owner_id", &AddVariableArgs::owner_id, "None"),
                                           param("prior", &AddVariableArgs::prior, "None"),
                                           param("posterior", &AddVariableArgs::posterior, "None"),
                                           param("states", &AddVariableArgs::states, "None"));
};

PyObject* add_variable(Call& c, AddVariableArgs& a) {
    PropertyMap prior, posterior;
    if (!properties_from_py(a.prior.dict, prior) || !properties_from_py(a.posterior.dict, posterior)) return nullptr;
    GraphCore* g = c.core();
    if (!g) return nullptr;
    return id_result(model::add_variable(*g, std::move(a.domain), a.owner_id, std::move(a.states), std::move(prior),
                                         std::move(posterior)));
}

struct AddFactorArgs {
    std::vector<std::uint64_t> input_variables;
    std::vector<std::uint64_t> output_variables;
    std::string function;
    DictArg parameters;
    static constexpr auto params = declare(param("input_variables", &AddFactorArgs::input_variables),
                                           param("output_variables", &AddFactorArgs::output_variables),
                                           param("function", &AddFactorArgs::function),
                                           param("parameters", &AddFactorArgs::parameters, "None"));
};

PyObject* add_factor(Call& c, AddFactorArgs& a) {
    PropertyMap parameters;
    if (!properties_from_py(a.parameters.dict, parameters)) return nullptr;
    GraphCore* g = c.core();
    if (!g) return nullptr;
    return id_result(model::add_factor(*g, std::move(a.input_variables), std::move(a.output_variables),
                                       std::move(a.function), std::move(parameters)));
}

struct AddFactorTableArgs {
    std::vector<std::uint64_t> variables;
    Values values;
    static constexpr auto params = declare(param("variables", &AddFactorTableArgs::variables),
                                           param("values", &AddFactorTableArgs::values));
};

PyObject* add_factor_table(Call& c, AddFactorTableArgs& a) {
    GraphCore* g = c.core();
    if (!g) return nullptr;
    return id_result(model::add_factor_table(*g, std::move(a.variables), std::move(a.values)));
}

struct AddCpdArgs {
    std::uint64_t variable_id = 0;
    std::vector<std::uint64_t> parent_variables;
    Values values;
    static constexpr auto params = declare(param("variable_id", &AddCpdArgs::variable_id),
                                           param("parent_variables", &AddCpdArgs::parent_variables),
                                           param("values", &AddCpdArgs::values));
};

PyObject* add_cpd(Call& c, AddCpdArgs& a) {
    GraphCore* g = c.core();
    if (!g) return nullptr;
    return id_result(model::add_cpd(*g, a.variable_id, std::move(a.parent_variables), std::move(a.values)));
}

struct AddEvidenceArgs {
    std::uint64_t variable_id = 0;
    DictArg payload;
    static constexpr auto params = declare(param("variable_id", &AddEvidenceArgs::variable_id),
                                           param("payload", &AddEvidenceArgs::payload, "None"));
};

PyObject* add_evidence(Call& c, AddEvidenceArgs& a) {
    PropertyMap payload;
    if (!properties_from_py(a.payload.dict, payload)) return nullptr;
    GraphCore* g = c.core();
    if (!g) return nullptr;
    return id_result(model::add_evidence(*g, a.variable_id, std::move(payload)));
}

struct AddTraceArgs {
    DictArg payload;
    static constexpr auto params = declare(param("payload", &AddTraceArgs::payload, "None"));
};

PyObject* add_trace(Call& c, AddTraceArgs& a) {
    PropertyMap payload;
    if (!properties_from_py(a.payload.dict, payload)) return nullptr;
    GraphCore* g = c.core();
    if (!g) return nullptr;
    return id_result(model::add_trace(*g, std::move(payload)));
}

// ---- reads

// One id argument, named per record kind so the signatures read as published.
template <int Kind>
struct IdArgs {
    std::uint64_t id = 0;
    static constexpr std::string_view kNames[] = {"variable_id", "factor_id", "evidence_id", "trace_id"};
    static constexpr auto params = declare(param(kNames[Kind], &IdArgs::id));
};
using VariableIdArgs = IdArgs<0>;
using FactorIdArgs = IdArgs<1>;
using EvidenceIdArgs = IdArgs<2>;
using TraceIdArgs = IdArgs<3>;

// A record copy, or KeyError "{kind} {id} not found".
template <class Find, class Make>
PyObject* lookup(Call& c, std::uint64_t id, const char* kind, Find&& find, Make&& make) {
    const GraphView* g = c.view();
    if (!g) return nullptr;
    auto record = find(*g, id);
    if (!record) return raise_not_found(kind, id);
    return make(c.state(), std::move(*record));
}

PyObject* get_variable(Call& c, VariableIdArgs& a) {
    return lookup(c, a.id, "variable", model::get_variable, make_variable);
}
PyObject* get_factor(Call& c, FactorIdArgs& a) { return lookup(c, a.id, "factor", model::get_factor, make_factor); }
PyObject* get_evidence(Call& c, EvidenceIdArgs& a) {
    return lookup(c, a.id, "evidence", model::get_evidence, make_evidence);
}
PyObject* get_trace(Call& c, TraceIdArgs& a) { return lookup(c, a.id, "trace", model::get_trace, make_trace); }

template <std::uint64_t (*Count)(const GraphView&)>
PyObject* count(Call& c) {
    const GraphView* g = c.view();
    return g ? py_u64(Count(*g)) : nullptr;
}

PyObject* posterior(Call& c, VariableIdArgs& a) {
    const GraphView* g = c.view();
    if (!g) return nullptr;
    auto dist = model::posterior(*g, a.id);
    if (!check(dist)) return nullptr;
    return distribution_to_py(*dist);
}

constexpr auto X = Borrow::Exclusive;
constexpr auto S = Borrow::Shared;

constexpr MethodDef kWrites[] = {
    method<add_variable>("add_variable", X),
    method<add_factor>("add_factor", X),
    method<add_factor_table>("add_factor_table", X),
    method<add_cpd>("add_cpd", X),
    method<add_evidence>("add_evidence", X),
    method<add_trace>("add_trace", X),
};

// Shared with GraphSnapshot.
constexpr MethodDef kReads[] = {
    method<get_variable>("get_variable", S),
    method<get_factor>("get_factor", S),
    method<count<model::variable_count>>("variable_count", S),
    method<count<model::factor_count>>("factor_count", S),
    method<get_evidence>("get_evidence", S),
    method<get_trace>("get_trace", S),
    method<count<model::evidence_count>>("evidence_count", S),
    method<count<model::trace_count>>("trace_count", S),
};

constexpr MethodDef kGraphOnly[] = {
    method<posterior>("posterior", S),
};

}  // namespace

void add_model_methods(MethodList& graph, MethodList& snapshot) {
    graph.add<GraphClass, kWrites>();
    graph.add<GraphClass, kReads>();
    graph.add<GraphClass, kGraphOnly>();
    snapshot.add<SnapshotClass, kReads>();
}

}  // namespace qm::py
