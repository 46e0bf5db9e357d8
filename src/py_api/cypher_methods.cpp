// The Cypher methods of Graph and GraphSnapshot: auto-commit statements, explicit
// transactions, and read-only statements on a snapshot.
#include "cypher/session.hpp"
#include "py_api/args.hpp"
#include "py_api/cypher_objects.hpp"
#include "py_api/cypher_values.hpp"
#include "py_api/errors.hpp"
#include "py_api/graph_methods.hpp"
#include "py_api/methods.hpp"

namespace qm::py {

namespace {

bool statement_args(Call& c, std::string& query, cypher::Params& params) {
    if (!c.text(0, query) || !check_params_arg(c.arg(1), c.name(1).c_str())) return false;
    return params_from_py(c.arg(1), params);
}

PyObject* cypher_autocommit(Call& c) {
    std::string query;
    cypher::Params params;
    if (!statement_args(c, query, params)) return nullptr;
    GraphCore* g = c.core();
    if (!g) return nullptr;
    auto result = cypher::execute_autocommit(*g, query, params);
    if (!result) return raise_value_error(result.error());
    return make_cypher_result(c.state(), std::move(*result));
}

PyObject* cypher_snapshot(Call& c) {
    std::string query;
    cypher::Params params;
    if (!statement_args(c, query, params)) return nullptr;
    GraphCore* g = c.core();
    if (!g) return nullptr;
    auto result = cypher::execute_snapshot(*g, query, params);
    if (!result) return raise_value_error(result.error());
    return make_cypher_result(c.state(), std::move(*result));
}

PyObject* transaction(Call& c) {
    PyObject* write = c.arg(0);
    if (!PyBool_Check(write)) {
        PyRef type_name = PyRef::steal(PyType_GetName(Py_TYPE(write)));
        const char* tn = type_name ? PyUnicode_AsUTF8(type_name.get()) : nullptr;
        if (!tn) PyErr_Clear();
        return raise_argument_type_error(c.name(0), std::string("'") + (tn ? tn : "object") +
                                                        "' object cannot be converted to 'PyBool'");
    }
    GraphCore* g = c.core();
    if (!g) return nullptr;
    return make_transaction(c.state(), c.cell(), *g, write == Py_True);
}

constexpr MethodDef kGraphCypher[] = {
    {"cypher", "query, parameters=None", Borrow::Exclusive, cypher_autocommit},
    {"transaction", "write=True", Borrow::Shared, transaction},
};

constexpr MethodDef kSnapshotCypher[] = {
    {"cypher", "query, parameters=None", Borrow::Shared, cypher_snapshot},
};

}  // namespace

void add_cypher_methods(std::vector<PyMethodDef>& graph, std::vector<PyMethodDef>& snapshot) {
    append_methods<kGraphCypher, std::size(kGraphCypher), Owner::Graph>(graph);
    append_methods<kSnapshotCypher, std::size(kSnapshotCypher), Owner::Snapshot>(snapshot);
}

}  // namespace qm::py
