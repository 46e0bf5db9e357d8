// The GraphTransaction class: explicit transactions over a Graph's cell. It keeps a
// second reference to the cell, reads the live graph (cut where it stood at the start)
// during run, and takes it exclusively only to commit. Bound to its creator's thread.
#include <new>
#include <string>
#include <vector>

#include "cypher/messages.hpp"
#include "cypher/session.hpp"
#include "py_api/args.hpp"
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
    unsigned long thread;
    BorrowFlag flag;
};

constexpr const char* kTypeName = "quillmere::GraphTransaction";

TransactionObject* tobj(PyObject* self) { return reinterpret_cast<TransactionObject*>(self); }

void transaction_dealloc(PyObject* self) {
    auto* t = tobj(self);
    PyTypeObject* type = Py_TYPE(self);
    if (t->thread != current_thread_token()) {
        // Dropping the graph on a foreign thread is unsafe; leak it and say so.
        PyObject* exc = PyErr_GetRaisedException();
        raise_runtime_error(std::string(kTypeName) + " is unsendable, but is being dropped on another thread");
        PyErr_WriteUnraisable(nullptr);
        PyErr_SetRaisedException(exc);
    } else {
        delete t->tx;
        t->cell.~shared_ptr<GraphCell>();
    }
    type->tp_free(self);
    Py_DECREF(type);
}

// Runs a committed write's warnings after every borrow is released.
bool emit_warnings(std::vector<std::string> warnings) {
    for (const auto& w : warnings)
        if (!emit_runtime_warning(w)) return false;
    return true;
}

using TxImpl = PyObject* (*)(PyObject* self, PyObject** args);

PyObject* run_impl(PyObject* self, PyObject** args) {
    auto* t = tobj(self);
    std::string query;
    if (!to_text(args[0], "query", query) || !check_params_arg(args[1], "parameters")) return nullptr;
    if (!t->tx->active()) return raise_value_error(cypher::msg::kTransactionInactive);
    cypher::Params params;
    if (!params_from_py(args[1], params)) return nullptr;
    BorrowGuard cell;
    if (!cell.acquire(t->cell->flag, Borrow::Shared)) return raise_panic("Already mutably borrowed");
    auto result = t->tx->run(t->cell->core, query, params);
    cell.release();
    if (!result) return raise_value_error(result.error());
    return make_cypher_result(state_of(self), std::move(*result));
}

PyObject* commit_now(PyObject* self) {
    auto* t = tobj(self);
    BorrowGuard cell;
    if (!cell.acquire(t->cell->flag, Borrow::Exclusive)) return raise_panic("Already borrowed");
    GraphCore& live = t->cell->core;
    auto status = t->tx->commit(live);
    std::vector<std::string> warnings = std::move(live.warnings);
    live.warnings.clear();
    cell.release();
    if (!status) return raise_value_error(status.error());
    if (!emit_warnings(std::move(warnings))) return nullptr;
    Py_RETURN_NONE;
}

PyObject* commit_impl(PyObject* self, PyObject**) { return commit_now(self); }

PyObject* rollback_impl(PyObject* self, PyObject**) {
    tobj(self)->tx->rollback();
    Py_RETURN_NONE;
}

PyObject* enter_impl(PyObject* self, PyObject**) { return Py_NewRef(self); }

PyObject* exit_impl(PyObject* self, PyObject** args) {
    auto* t = tobj(self);
    if (args[0] != Py_None) {
        t->tx->rollback();
    } else if (t->tx->active()) {
        PyRef done = PyRef::steal(commit_now(self));
        if (!done) return nullptr;
    }
    Py_RETURN_FALSE;
}

struct TxMethod {
    const char* name;
    const char* params;
    Borrow borrow;
    TxImpl impl;
};

constexpr TxMethod kMethods[] = {
    {"run", "query, parameters=None", Borrow::Exclusive, run_impl},
    {"commit", "", Borrow::Exclusive, commit_impl},
    {"rollback", "", Borrow::Exclusive, rollback_impl},
    {"__enter__", "", Borrow::Shared, enter_impl},
    {"__exit__", "exc_type, _exc, _traceback", Borrow::Exclusive, exit_impl},
};
constexpr std::size_t kMethodCount = std::size(kMethods);

Signature& signature_of(std::size_t i) {
    static std::vector<Signature>* sigs = [] {
        auto* v = new std::vector<Signature>();
        for (const TxMethod& m : kMethods) {
            std::string qual = std::string("GraphTransaction.") + m.name;
            v->push_back(make_signature(qual.c_str(), m.name, m.params, true));
        }
        return v;
    }();
    return (*sigs)[i];
}

template <std::size_t I>
PyObject* trampoline(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    try {
        const Signature& sig = signature_of(I);
        PyObject* resolved[kMaxParams];
        if (!parse_arguments(sig, args, nargs, kwnames, resolved)) return nullptr;
        auto* t = tobj(self);
        if (t->thread != current_thread_token())
            return raise_panic(std::string(kTypeName) + " is unsendable, but sent to another thread");
        BorrowGuard handle;
        if (!handle.acquire(t->flag, kMethods[I].borrow)) return raise_borrow_conflict(kMethods[I].borrow);
        return kMethods[I].impl(self, resolved);
    } catch (...) {
        return raise_from_current_exception();
    }
}

template <std::size_t... I>
std::vector<PyMethodDef>* build_methods(std::index_sequence<I...>) {
    auto* defs = new std::vector<PyMethodDef>{PyMethodDef{
        kMethods[I].name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(trampoline<I>)),
        METH_FASTCALL | METH_KEYWORDS, signature_of(I).doc.c_str()}...};
    defs->push_back(PyMethodDef{nullptr, nullptr, 0, nullptr});
    return defs;
}

}  // namespace

PyObject* make_transaction(ModuleState* st, std::shared_ptr<GraphCell> cell, const GraphCore& live, bool write) {
    auto tx = std::make_unique<cypher::Transaction>(live, write);
    auto* type = reinterpret_cast<PyTypeObject*>(st->transaction_type);
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    auto* t = tobj(self);
    new (&t->cell) std::shared_ptr<GraphCell>(std::move(cell));
    t->tx = tx.release();
    t->thread = current_thread_token();
    t->flag = BorrowFlag{};
    return self;
}

PyObject* make_transaction_type(PyObject* module) {
    static std::vector<PyMethodDef>* methods = build_methods(std::make_index_sequence<kMethodCount>{});
    PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(transaction_dealloc)},
        {Py_tp_methods, methods->data()},
        {0, nullptr},
    };
    PyType_Spec spec = {"_quillmere.GraphTransaction", sizeof(TransactionObject), 0,
                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION, slots};
    return PyType_FromModuleAndSpec(module, &spec, nullptr);
}

}  // namespace qm::py
