// The Graph class: construction (Graph(path=None), Graph.open(path)), the drop rule for
// foreign threads, and the assembly of its method list.
#include "py_api/args.hpp"
#include "py_api/errors.hpp"
#include "py_api/graph_methods.hpp"
#include "py_api/handles.hpp"
#include "py_api/methods.hpp"
#include "py_api/types.hpp"
#include "sqlite/open_graph.hpp"

namespace qm::py {

namespace {

PyObject* new_graph_object(PyTypeObject* type, GraphCore core) {
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    auto* g = reinterpret_cast<GraphObject*>(self);
    new (&g->cell) std::shared_ptr<GraphCell>();
    g->thread = current_thread_token();
    g->flag = BorrowFlag{};
    try {
        g->cell = std::make_shared<GraphCell>(GraphCell{std::move(core), BorrowFlag{}});
    } catch (...) {
        Py_DECREF(self);
        return raise_from_current_exception();
    }
    return self;
}

// Graph(path) and Graph.open(path): None is an in-memory graph, text opens the file.
PyObject* construct(PyTypeObject* type, PyObject* path, bool path_required) {
    if (path == Py_None && !path_required) return new_graph_object(type, GraphCore());
    std::string text;
    if (!to_text(path, "path", text)) return nullptr;
    auto core = open_graph_file(text);
    if (!core) return raise_runtime_error(core.error());
    return new_graph_object(type, std::move(*core));
}

const Signature& ctor_signature() {
    static Signature sig = make_signature("Graph", "Graph", "path=None", false);
    return sig;
}

const Signature& open_signature() {
    static Signature sig = make_signature("Graph.open", "open", "path", false);
    return sig;
}

PyObject* graph_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    try {
        // Re-express the classic call as a vector call so one parser serves every entry.
        Py_ssize_t nargs = PyTuple_GET_SIZE(args);
        std::vector<PyObject*> flat(args ? &PyTuple_GET_ITEM(args, 0) : nullptr,
                                    args ? &PyTuple_GET_ITEM(args, 0) + nargs : nullptr);
        PyRef kwnames;
        if (kwargs && PyDict_GET_SIZE(kwargs) > 0) {
            kwnames = PyRef::steal(PyTuple_New(PyDict_GET_SIZE(kwargs)));
            if (!kwnames) return nullptr;
            Py_ssize_t pos = 0, i = 0;
            PyObject *k, *v;
            while (PyDict_Next(kwargs, &pos, &k, &v)) {
                PyTuple_SET_ITEM(kwnames.get(), i++, Py_NewRef(k));
                flat.push_back(v);
            }
        }
        PyObject* resolved[1];
        if (!parse_arguments(ctor_signature(), flat.data(), nargs, kwnames.get(), resolved)) return nullptr;
        return construct(type, resolved[0], false);
    } catch (...) {
        return raise_from_current_exception();
    }
}

PyObject* graph_open(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    try {
        PyObject* resolved[1];
        if (!parse_arguments(open_signature(), args, nargs, kwnames, resolved)) return nullptr;
        ModuleState* st = state_of_module(module);
        return construct(reinterpret_cast<PyTypeObject*>(st->graph_type), resolved[0], true);
    } catch (...) {
        return raise_from_current_exception();
    }
}

void graph_dealloc(PyObject* self) {
    auto* g = reinterpret_cast<GraphObject*>(self);
    PyTypeObject* type = Py_TYPE(self);
    if (g->thread != current_thread_token()) {
        // Dropping the graph here could close its store on the wrong thread: leak it instead.
        new std::shared_ptr<GraphCell>(std::move(g->cell));
        PyObject* exc = PyErr_GetRaisedException();
        raise_runtime_error("quillmere::Graph is unsendable, but is being dropped on another thread");
        PyErr_WriteUnraisable(nullptr);
        PyErr_SetRaisedException(exc);
    }
    g->cell.~shared_ptr<GraphCell>();
    type->tp_free(self);
    Py_DECREF(type);
}

}  // namespace

PyObject* make_graph_type(PyObject* module) {
    PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(graph_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(graph_dealloc)},
        {Py_tp_methods, method_lists().graph.data()},
        {Py_tp_doc, const_cast<char*>("Graph(path=None)\n--\n\n")},
        {0, nullptr},
    };
    PyType_Spec spec = {"_quillmere.Graph", sizeof(GraphObject), 0, Py_TPFLAGS_DEFAULT, slots};
    PyRef type = PyRef::steal(PyType_FromModuleAndSpec(module, &spec, nullptr));
    if (!type) return nullptr;
    static PyMethodDef open_def = {"open",
                                   reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(graph_open)),
                                   METH_FASTCALL | METH_KEYWORDS, nullptr};
    open_def.ml_doc = open_signature().doc.c_str();
    PyRef fn = PyRef::steal(PyCFunction_NewEx(&open_def, module, nullptr));
    if (!fn) return nullptr;
    PyRef sm = PyRef::steal(PyStaticMethod_New(fn.get()));
    if (!sm || PyObject_SetAttrString(type.get(), "open", sm.get()) < 0) return nullptr;
    // Immutable from here on, like the other classes; set only after `open` is attached.
    reinterpret_cast<PyTypeObject*>(type.get())->tp_flags |= Py_TPFLAGS_IMMUTABLETYPE;
    PyType_Modified(reinterpret_cast<PyTypeObject*>(type.get()));
    return type.release();
}

}  // namespace qm::py
