// The Graph class: construction (Graph(path=None), Graph.open(path)), the drop rule for
// foreign threads, and the assembly of its method list.
#include "py_api/args.hpp"
#include "py_api/binding_messages.hpp"
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
    g->handle = new_handle_state();
    try {
        g->cell = std::make_shared<GraphCell>(GraphCell{LiveGraph(std::move(core)), BorrowFlag{}});
    } catch (...) {
        Py_DECREF(self);
        return raise_from_current_exception();
    }
    return self;
}

// None is an in-memory graph, text opens the file.
PyObject* construct(PyTypeObject* type, const std::optional<std::string>& path) {
    if (!path) return new_graph_object(type, GraphCore());
    auto core = open_graph_file(*path);
    if (!core) return raise_runtime_error(core.error());
    // An open that succeeded may still carry warnings (a segment cache it could not save).
    std::vector<std::string> warnings = std::exchange(core->warnings, {});
    PyRef graph = PyRef::steal(new_graph_object(type, std::move(*core)));
    return detail::finish_call(std::move(graph), warnings);
}

struct GraphArgs {
    std::optional<std::string> path;
    static constexpr auto params = declare(param("path", &GraphArgs::path, "None"));
};

struct OpenArgs {
    std::string path;
    static constexpr auto params = declare(param("path", &OpenArgs::path));
};

// Graph.open(path): a static method, so self is the type.
PyObject* open_impl(Call& c, OpenArgs& a) {
    return construct(reinterpret_cast<PyTypeObject*>(c.self()), std::move(a.path));
}

constexpr MethodDef kConstruction[] = {
    method<open_impl>("open", Borrow::Shared, kStatic),
};

const Signature& ctor_signature() {
    static const Signature sig = make_signature_for<GraphArgs>("Graph", "Graph");
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
        GraphArgs a;
        if (!convert_params(resolved, a)) return nullptr;
        return construct(type, a.path);
    } catch (...) {
        return raise_from_current_exception();
    }
}

void graph_dealloc(PyObject* self) {
    auto* g = reinterpret_cast<GraphObject*>(self);
    PyTypeObject* type = Py_TYPE(self);
    if (g->handle.thread != current_thread_token()) {
        // Dropping the graph here could close its store on the wrong thread: leak it instead.
        new std::shared_ptr<GraphCell>(std::move(g->cell));
        PyObject* exc = PyErr_GetRaisedException();
        raise_runtime_error(msg::unsendable_drop(GraphClass::kTypeName));
        PyErr_WriteUnraisable(nullptr);
        PyErr_SetRaisedException(exc);
    }
    g->cell.~shared_ptr<GraphCell>();
    type->tp_free(self);
    Py_DECREF(type);
}

}  // namespace

void add_construction_methods(MethodList& graph) { graph.add<GraphClass, kConstruction>(); }

PyObject* make_graph_type(PyObject* module) {
    PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(graph_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(graph_dealloc)},
        {Py_tp_doc, const_cast<char*>(ctor_signature().doc.c_str())},
        {0, nullptr},
    };
    PyType_Spec spec = {"_quillmere.Graph", sizeof(GraphObject), 0,
                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots};
    return new_class(module, spec, method_lists().graph);
}

}  // namespace qm::py
