// The four model record classes share one object layout: a header and the record copy.
// Every attribute read builds a fresh Python object, so callers can never reach the copy.
#include "py_api/model_records.hpp"

#include <new>

#include "py_api/args.hpp"
#include "py_api/properties.hpp"
#include "py_api/types.hpp"

namespace qm::py {

namespace {

template <class Record>
struct ModelRecordObject {
    PyObject_HEAD
    Record record;
};

template <class Record>
void model_record_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<ModelRecordObject<Record>*>(self)->record.~Record();
    type->tp_free(self);
    Py_DECREF(type);
}

template <class Record>
PyObject* make_model_record(PyObject* type_obj, Record record) {
    auto* type = reinterpret_cast<PyTypeObject*>(type_obj);
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    new (&reinterpret_cast<ModelRecordObject<Record>*>(self)->record) Record(std::move(record));
    return self;
}

template <class Record>
const Record& rec(PyObject* self) {
    return reinterpret_cast<ModelRecordObject<Record>*>(self)->record;
}

// ---- Variable
PyObject* variable_id(PyObject* s, void*) { return py_u64(rec<VariableRecord>(s).id); }
PyObject* variable_domain(PyObject* s, void*) { return py_text(rec<VariableRecord>(s).domain); }
PyObject* variable_states(PyObject* s, void*) { return py_text_list(rec<VariableRecord>(s).states); }
PyObject* variable_owner_id(PyObject* s, void*) {
    const auto& owner = rec<VariableRecord>(s).owner_id;
    if (!owner) Py_RETURN_NONE;
    return py_u64(*owner);
}
PyObject* variable_prior(PyObject* s, void*) { return property_map_to_py(rec<VariableRecord>(s).prior); }
PyObject* variable_posterior(PyObject* s, void*) { return property_map_to_py(rec<VariableRecord>(s).posterior); }

PyGetSetDef kVariableGetSet[] = {
    {"id", variable_id, nullptr, nullptr, nullptr},
    {"domain", variable_domain, nullptr, nullptr, nullptr},
    {"states", variable_states, nullptr, nullptr, nullptr},
    {"owner_id", variable_owner_id, nullptr, nullptr, nullptr},
    {"prior", variable_prior, nullptr, nullptr, nullptr},
    {"posterior", variable_posterior, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ---- Factor
PyObject* factor_id(PyObject* s, void*) { return py_u64(rec<FactorRecord>(s).id); }
PyObject* factor_function(PyObject* s, void*) { return py_text(rec<FactorRecord>(s).function); }
PyObject* factor_parameters(PyObject* s, void*) { return property_map_to_py(rec<FactorRecord>(s).parameters); }
PyObject* factor_inputs(PyObject* s, void*) { return py_u64_list(rec<FactorRecord>(s).input_variables); }
PyObject* factor_outputs(PyObject* s, void*) { return py_u64_list(rec<FactorRecord>(s).output_variables); }

PyGetSetDef kFactorGetSet[] = {
    {"id", factor_id, nullptr, nullptr, nullptr},
    {"function", factor_function, nullptr, nullptr, nullptr},
    {"parameters", factor_parameters, nullptr, nullptr, nullptr},
    {"input_variables", factor_inputs, nullptr, nullptr, nullptr},
    {"output_variables", factor_outputs, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ---- Evidence
PyObject* evidence_id(PyObject* s, void*) { return py_u64(rec<EvidenceRecord>(s).id); }
PyObject* evidence_variable_id(PyObject* s, void*) { return py_u64(rec<EvidenceRecord>(s).variable_id); }
PyObject* evidence_payload(PyObject* s, void*) { return property_map_to_py(rec<EvidenceRecord>(s).payload); }

PyGetSetDef kEvidenceGetSet[] = {
    {"id", evidence_id, nullptr, nullptr, nullptr},
    {"variable_id", evidence_variable_id, nullptr, nullptr, nullptr},
    {"payload", evidence_payload, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ---- Trace
PyObject* trace_id(PyObject* s, void*) { return py_u64(rec<TraceRecord>(s).id); }
PyObject* trace_payload(PyObject* s, void*) { return property_map_to_py(rec<TraceRecord>(s).payload); }

PyGetSetDef kTraceGetSet[] = {
    {"id", trace_id, nullptr, nullptr, nullptr},
    {"payload", trace_payload, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

template <class Record>
PyObject* make_model_record_type(PyObject* module, const char* name, PyGetSetDef* getset) {
    PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(model_record_dealloc<Record>)},
        {Py_tp_getset, getset},
        {0, nullptr},
    };
    PyType_Spec spec = {name, sizeof(ModelRecordObject<Record>), 0,
                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION, slots};
    return PyType_FromModuleAndSpec(module, &spec, nullptr);
}

}  // namespace

PyObject* make_variable(ModuleState* st, VariableRecord record) {
    return make_model_record(st->variable_type, std::move(record));
}
PyObject* make_factor(ModuleState* st, FactorRecord record) {
    return make_model_record(st->factor_type, std::move(record));
}
PyObject* make_evidence(ModuleState* st, EvidenceRecord record) {
    return make_model_record(st->evidence_type, std::move(record));
}
PyObject* make_trace(ModuleState* st, TraceRecord record) {
    return make_model_record(st->trace_type, std::move(record));
}

PyObject* make_variable_type(PyObject* m) {
    return make_model_record_type<VariableRecord>(m, "_quillmere.Variable", kVariableGetSet);
}
PyObject* make_factor_type(PyObject* m) {
    return make_model_record_type<FactorRecord>(m, "_quillmere.Factor", kFactorGetSet);
}
PyObject* make_evidence_type(PyObject* m) {
    return make_model_record_type<EvidenceRecord>(m, "_quillmere.Evidence", kEvidenceGetSet);
}
PyObject* make_trace_type(PyObject* m) {
    return make_model_record_type<TraceRecord>(m, "_quillmere.Trace", kTraceGetSet);
}

}  // namespace qm::py
