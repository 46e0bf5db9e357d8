// The module's own functions: one table, declared like any class's methods (ModuleClass:
// no self parameter, no thread binding, no graph).
#include <array>

#include "py_api/methods.hpp"
#include "py_api/types.hpp"

namespace qm::py {

namespace {

// Empty until the first module function arrives (a plain array cannot be empty); then
// `constexpr MethodDef kModuleFunctions[] = {method<impl>("name", Borrow::Shared)};`.
constexpr std::array<MethodDef, 0> kModuleFunctions{};

}  // namespace

int add_module_functions(PyObject* module) {
    return PyModule_AddFunctions(module, class_methods<ModuleClass, kModuleFunctions>().defs());
}

}  // namespace qm::py
