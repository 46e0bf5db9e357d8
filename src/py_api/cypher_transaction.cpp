// The GraphTransaction class: explicit transactions over a Graph's cell. It keeps a
// second reference to the cell and reaches the live graph through it, cut where it stood
// when the transaction began. Bound to its creator's thread like the Graph.
#include <new>
#include <string>

#include "cypher/messages.hpp"
#include "cypher/session.hpp"
#include "py_api/binding_messages.hpp"
#include "py_api/cypher_objects.hpp"
#include "py_api/cypher_values.hpp"
#include "py_api/errors.hpp"
#include "py_api/methods.hpp"
#include "py_api/types.hpp"

namespace qm::py {

namespace {

struct TransactionObject {
    PyObject_HEAD
    std::shared_ptr<GraphCell> cell;
    cypher::Transaction* tx;
    HandleState handle;
};

TransactionObject* tobj(PyObject* self) { return reinterpret_cast<TransactionObject*>(self); }

struct TransactionClass {
    static constexpr std::string_view kName = "GraphTransaction";
    static constexpr std::string_view kTypeName = "quillmere::GraphTransaction";
    static HandleState& handle(PyObject* self) { return tobj(self)->handle; }
    static GraphCore* graph(PyObject* self, Borrow mode, BorrowGuard& guard) {
        GraphCell& cell = *tobj(self)->cell;
        if (!guard.acquire(cell.flag, mode)) {
            raise_panic(mode == Borrow::Exclusive ? msg::kAlreadyBorrowed : msg::kAlreadyMutablyBorrowed);
            return nullptr;
        }
        return &cell.graph.core();
    }
};

// Any object at all: __exit__ only asks whether its first argument is None.
struct AnyArg {
    PyObject* object = nullptr;
};

}  // namespace

template <>
struct Converter<AnyArg> {
    static bool convert(PyObject* o, std::string_view, AnyArg& out) {
        out.object = o;
        return true;
    }
};

namespace {

struct ExitArgs {
    AnyArg exc_type, exc, traceback;
    static constexpr auto params = declare(param("exc_type", &ExitArgs::exc_type), param("_exc", &ExitArgs::exc),
                                           param("_traceback", &ExitArgs::traceback));
};

void transaction_dealloc(PyObject* self) {
    auto* t = tobj(self);
    PyTypeObject* type = Py_TYPE(self);
    if (t->handle.thread != current_thread_token()) {
        // Dropping the graph on a foreign thread is unsafe: leak it and say so.
        PyObject* exc = PyErr_GetRaisedException();
        raise_runtime_error(msg::unsendable_drop(TransactionClass::kTypeName));
        PyErr_WriteUnraisable(nullptr);
        PyErr_SetRaisedException(exc);
    } else {
        delete t->tx;
        t->cell.~shared_ptr<GraphCell>();
    }
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* run(Call& c, StatementArgs& a) {
    cypher::Transaction& tx = *tobj(c.self())->tx;
    if (!tx.active()) return raise_value_error(cypher::msg::kTransactionInactive);
    cypher::Params params;
    if (a.parameters.dict && !params_from_py(a.parameters.dict, params)) return nullptr;
    GraphCore* g = c.core();
    if (!g) return nullptr;
    auto result = tx.run(*g, a.query, params);
    if (!result) return raise_value_error(result.error());
    return make_cypher_result(c.state(), std::move(*result));
}

PyObject* commit(Call& c) {
    GraphCore* g = c.core();
    if (!g) return nullptr;
    auto status = tobj(c.self())->tx->commit(*g);
    if (!status) return raise_value_error(status.error());
    Py_RETURN_NONE;
}

PyObject* rollback(Call& c) {
    tobj(c.self())->tx->rollback();
    Py_RETURN_NONE;
}

PyObject* enter(Call& c) { return Py_NewRef(c.self()); }

// Commits a block that ended normally, rolls back one that raised; never swallows.
PyObject* exit(Call& c, ExitArgs& a) {
    cypher::Transaction& tx = *tobj(c.self())->tx;
    if (a.exc_type.object != Py_None) {
        tx.rollback();
    } else if (tx.active()) {
        PyRef done = PyRef::steal(commit(c));
        if (!done) return nullptr;
    }
    Py_RETURN_FALSE;
}

constexpr auto X = Borrow::Exclusive;

constexpr MethodDef kTransactionMethods[] = {
    method<run>("run", X),
    method<commit>("commit", X),
    method<rollback>("rollback", X),
    method<enter>("__enter__", Borrow::Shared),
    method<exit>("__exit__", X),
};

}  // namespace

PyObject* make_transaction(ModuleState* st, std::shared_ptr<GraphCell> cell, const GraphCore& live, bool write) {
    auto tx = std::make_unique<cypher::Transaction>(live, write);
    auto* type = reinterpret_cast<PyTypeObject*>(st->transaction_type);
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    auto* t = tobj(self);
    new (&t->cell) std::shared_ptr<GraphCell>(std::move(cell));
    t->tx = tx.release();
    t->handle = new_handle_state();
    return self;
}

PyObject* make_transaction_type(PyObject* module) {
    PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(transaction_dealloc)},
        {0, nullptr},
    };
    PyType_Spec spec = {"_quillmere.GraphTransaction", sizeof(TransactionObject), 0,
                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION, slots};
    return new_class(module, spec, class_methods<TransactionClass, kTransactionMethods>());
}

}  // namespace qm::py
