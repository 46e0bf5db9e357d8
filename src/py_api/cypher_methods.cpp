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

// A flag that must be a bool itself: an int is refused rather than read as truth.
struct StrictBool {
    bool value = true;
};

}  // namespace

template <>
struct Converter<StrictBool> {
    static constexpr std::string_view kNoun = "a bool";
    static bool read(PyObject* o, StrictBool& out) { return read_bool(o, out.value); }
};

namespace {

struct TransactionArgs {
    StrictBool write;
    static constexpr auto params = declare(param("write", &TransactionArgs::write, "True"));
};

PyObject* cypher_autocommit(Call& c, StatementArgs& a) {
    cypher::Params params;
    if (a.parameters.dict && !params_from_py(a.parameters.dict, params)) return nullptr;
    GraphCore* g = c.core();
    if (!g) return nullptr;
    auto result = cypher::execute_autocommit(*g, a.query, params);
    if (!result) return raise_value_error(result.error());
    return make_cypher_result(c.state(), std::move(*result));
}

PyObject* cypher_snapshot(Call& c, StatementArgs& a) {
    cypher::Params params;
    if (a.parameters.dict && !params_from_py(a.parameters.dict, params)) return nullptr;
    const GraphView* g = c.view();
    if (!g) return nullptr;
    auto result = cypher::execute_snapshot(*g, a.query, params);
    if (!result) return raise_value_error(result.error());
    return make_cypher_result(c.state(), std::move(*result));
}

PyObject* transaction(Call& c, TransactionArgs& a) {
    GraphCore* g = c.core();
    if (!g) return nullptr;
    return make_transaction(c.state(), reinterpret_cast<GraphObject*>(c.self())->cell, *g, a.write.value);
}

constexpr MethodDef kGraphCypher[] = {
    method<cypher_autocommit>("cypher", Borrow::Exclusive),
    method<transaction>("transaction", Borrow::Shared),
};

constexpr MethodDef kSnapshotCypher[] = {
    method<cypher_snapshot>("cypher", Borrow::Shared),
};

}  // namespace

void add_cypher_methods(MethodList& graph, MethodList& snapshot) {
    graph.add<GraphClass, kGraphCypher>();
    snapshot.add<SnapshotClass, kSnapshotCypher>();
}

}  // namespace qm::py
