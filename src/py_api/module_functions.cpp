// The module's own functions: one table, declared like any class's methods (ModuleClass:
// no self parameter, no thread binding, no graph).
#include "py_api/methods.hpp"
#include "py_api/query_convert.hpp"
#include "py_api/types.hpp"

namespace qm::py {

namespace {

PyObject* query_dsl_schema_impl(Call&) { return query_schema_to_py(); }

constexpr MethodDef kModuleFunctions[] = {
    method<query_dsl_schema_impl>("_query_dsl_schema", Borrow::Shared),
};

}  // namespace

int add_module_functions(PyObject* module) {
    return PyModule_AddFunctions(module, class_methods<ModuleClass, kModuleFunctions>().defs());
}

}  // namespace qm::py
