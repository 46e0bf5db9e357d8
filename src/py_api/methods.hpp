// The binding layer: how every class of the module and the module itself declare methods.
//
// A method is one line in a table plus one impl; its parameters are one struct (params.hpp).
// That declaration yields the docstring's text signature and drives the argument parser
// and the conversions, so none of them can drift from the others.
//
// ---- Declaring a method ----------------------------------------------------------------
//
//     struct KHopArgs {
//         std::uint64_t start = 0;
//         std::uint64_t hops = 0;
//         std::string direction;
//         std::optional<std::string> edge_type;
//         static constexpr auto params = declare(
//             param("start", &KHopArgs::start),
//             param("hops", &KHopArgs::hops),
//             param("direction", &KHopArgs::direction, R"("out")"),
//             param("edge_type", &KHopArgs::edge_type, "None"));
//     };
//
//     PyObject* k_hop_impl(Call& c, KHopArgs& a) {   // arguments arrive converted, by name
//         const GraphView* g = c.view();              // reads take the view; writes c.core()
//         if (!g) return nullptr;
//         ...
//     }
//     PyObject* node_count_impl(Call& c);             // no parameters: no struct
//
//     constexpr MethodDef kWalks[] = {
//         method<k_hop_impl>("k_hop", Borrow::Shared),
//         method<node_count_impl>("node_count", Borrow::Shared),
//     };
//
// and in the file's registration function, one line per class that offers the table:
//
//     graph.add<GraphClass, kWalks>();
//     snapshot.add<SnapshotClass, kWalks>();
//
// Field types with a converter (args.hpp, properties.hpp): std::uint64_t, double, std::string,
// std::optional of any of them, std::vector of std::string, std::uint64_t or double,
// PropertyValue, DictArg (a dict whose reading is left to the impl). For anything else add a
// Converter<T> with read() and kNoun (params.hpp), reading through the toolkit in args.hpp
// (readers, read_scalar for the one scalar order, NestingGuard for nested values); a dict
// whose fields mirror a parameter struct reads with read_fields (see compute_jobs.cpp).
// A static method (no instance, e.g. Graph.open) is `method<impl>("open", Borrow::Shared, kStatic)`;
// its impl receives the type as c.self().
//
// ---- Declaring a class -----------------------------------------------------------------
//
// One traits block saying how `self` reaches its graph; members a class lacks are left out:
//
//     struct TransactionClass {
//         static constexpr std::string_view kName = "GraphTransaction";  // argument messages
//         // Thread-bound classes only: the internal name in the thread-binding messages and
//         // the handle state checked and borrowed at every call.
//         static constexpr std::string_view kTypeName = "quillmere::GraphTransaction";
//         static HandleState& handle(PyObject* self);
//         // Classes that reach a graph: take it in `mode`, holding any cell borrow in `guard`;
//         // nullptr with the panic exception set on a conflicting borrow.
//         static GraphCore* graph(PyObject* self, Borrow mode, BorrowGuard& guard);
//         // Classes that hold a moment rather than the live graph (GraphSnapshot) declare
//         // instead: static GraphView view(PyObject* self);
//     };
//
// and one table, handed to the class's constructor:
//
//     PyType_Slot slots[] = {{Py_tp_dealloc, ...}, {0, nullptr}};
//     PyType_Spec spec = {"_quillmere.GraphTransaction", sizeof(TransactionObject), 0, flags, slots};
//     return new_class(module, spec, class_methods<TransactionClass, kTransactionMethods>());
//
// A class without a graph (CypherResult, Node, ...) declares only kName. Module functions use
// ModuleClass and the table in module_functions.cpp; the module's types are listed, in their
// order they are added, in module.cpp.
//
// ---- What a call does ------------------------------------------------------------------
//
// Parse arguments; check the receiver's thread; borrow the handle; convert the arguments;
// the impl takes the graph (c.core()), which borrows the cell in the same mode; borrows are
// released on every path, and the core's warnings become RuntimeWarnings after they are.
#pragma once

#include "py_api/pyref.hpp"

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/graph.hpp"
#include "core/view.hpp"
#include "py_api/errors.hpp"
#include "py_api/handles.hpp"
#include "py_api/module_state.hpp"
#include "py_api/params.hpp"

namespace qm::py {

class Call;
using Impl = PyObject* (*)(Call&);

// A static method is called on the class and receives the type object as its self.
inline constexpr unsigned kStatic = 1;

struct MethodDef {
    const char* name;
    Borrow borrow;
    const ParamText* params;
    std::size_t param_count;
    Impl impl;
    unsigned flags = 0;
};

// A parsed parameter list; defaults are materialised once as Python objects.
struct Signature {
    std::string qualname;  // "Graph.get_node"
    std::string doc;       // "get_node($self, node_id)\n--\n\n"
    std::vector<std::string> names;
    std::vector<PyObject*> defaults;  // nullptr for a required parameter
};

// The signature of `name` with parameters `params`; `self_param` adds "$self".
Signature make_signature(std::string qualname, const char* name, const ParamText* params,
                         std::size_t count, bool self_param);

// The signature of an entry point outside the method tables (a class's constructor).
template <class Args>
Signature make_signature_for(std::string qualname, const char* name) {
    return make_signature(std::move(qualname), name, detail::kParamTexts<Args>.data(),
                          detail::kParamTexts<Args>.size(), false);
}

// Resolves positional and keyword arguments into one slot per parameter (borrowed refs,
// defaults filled in). False with a TypeError set on any mismatch.
bool parse_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames, PyObject** out);

inline constexpr std::size_t kMaxParams = 8;

class Call {
public:
    using TakeGraph = GraphCore* (*)(PyObject* self, Borrow mode, BorrowGuard& guard);
    using TakeView = GraphView (*)(PyObject* self);
    using StateOf = ModuleState* (*)(PyObject* self);

    Call(PyObject* self, Borrow borrow, PyObject* const* args, TakeGraph take, StateOf state,
         TakeView take_view = nullptr)
        : self_(self), borrow_(borrow), args_(args), take_(take), take_view_(take_view), state_of_(state) {}

    PyObject* self() const { return self_; }
    // The resolved argument for parameter i (defaults filled in), for impls that read
    // an argument themselves.
    PyObject* arg(std::size_t i) const { return args_[i]; }
    PyObject* const* args() const { return args_; }
    ModuleState* state() const { return state_of_(self_); }

    // The graph, borrowed in the method's mode; nullptr with the panic exception set if the
    // cell is already borrowed in a conflicting way, or the class has no graph.
    GraphCore* core() {
        if (!core_) core_ = take_(self_, borrow_, cell_guard_);
        return core_;
    }

    // The graph to read: a snapshot's moment, or the live graph (borrowed as by core()).
    // Every read method takes this, so it serves Graph and GraphSnapshot alike.
    const GraphView* view() {
        if (!view_) {
            if (take_view_) {
                view_.emplace(take_view_(self_));
            } else if (GraphCore* g = core()) {
                view_.emplace(*g);
            } else {
                return nullptr;
            }
        }
        return &*view_;
    }

    // A refresh that reloads replaces the graph's generation and may free the one borrowed
    // here; the pointer must follow, or the warnings below would be read from freed memory.
    void follow(GraphCore* core) { core_ = core; }

    // Moves out the warnings the core operation left, so they are raised after release.
    std::vector<std::string> take_warnings() {
        if (!core_ || core_->warnings.empty()) return {};
        return std::exchange(core_->warnings, {});
    }

private:
    PyObject* self_;
    Borrow borrow_;
    PyObject* const* args_;
    TakeGraph take_;
    TakeView take_view_;
    StateOf state_of_;
    BorrowGuard cell_guard_;
    GraphCore* core_ = nullptr;
    std::optional<GraphView> view_;
};

// ---- class traits of the classes this layer knows from the start

// Methods of the module itself: no self parameter, no thread binding, no graph.
struct ModuleClass {
    static constexpr std::string_view kName = "";
    static ModuleState* state(PyObject* module) { return state_of_module(module); }
};

struct GraphClass {
    static constexpr std::string_view kName = "Graph";
    static constexpr std::string_view kTypeName = "quillmere::Graph";
    static HandleState& handle(PyObject* self) { return reinterpret_cast<GraphObject*>(self)->handle; }
    static GraphCore* graph(PyObject* self, Borrow mode, BorrowGuard& guard);
};

struct SnapshotClass {
    static constexpr std::string_view kName = "GraphSnapshot";
    static constexpr std::string_view kTypeName = "quillmere::GraphSnapshot";
    static HandleState& handle(PyObject* self) { return reinterpret_cast<SnapshotObject*>(self)->handle; }
    // Read-only: no graph to write, only the view of its moment.
    static GraphView view(PyObject* self) { return reinterpret_cast<SnapshotObject*>(self)->snapshot->view(); }
};

template <class Class>
concept ThreadBound = requires(PyObject* self) {
    { Class::handle(self) } -> std::same_as<HandleState&>;
    Class::kTypeName;
};

template <class Class>
concept HasGraph = requires(PyObject* self, BorrowGuard& guard) {
    { Class::graph(self, Borrow::Shared, guard) } -> std::same_as<GraphCore*>;
};

template <class Class>
concept HasView = requires(PyObject* self) {
    { Class::view(self) } -> std::same_as<GraphView>;
};

template <class Class>
concept HasState = requires(PyObject* self) {
    { Class::state(self) } -> std::same_as<ModuleState*>;
};

// ---- the call path

namespace detail {

PyObject* raise_unsendable(std::string_view type_name);
GraphCore* no_graph(PyObject* self, Borrow, BorrowGuard&);
ModuleState* state_of_type_object(PyObject* type);
// The result of a call whose borrows are released: raises the core's warnings (which may
// run Python code: filters, handlers) and hands the result on.
PyObject* finish_call(PyRef result, const std::vector<std::string>& warnings);

// Runs the impl with the graph's warnings moved out once it returns; the cell's borrow
// ends with the Call.
inline PyRef run_impl(const MethodDef& def, Call&& call, std::vector<std::string>& warnings) {
    PyRef result = PyRef::steal(def.impl(call));
    warnings = call.take_warnings();
    return result;
}

template <class Class>
PyObject* dispatch(const MethodDef& def, const Signature& sig, PyObject* self, PyObject* const* args,
                   Py_ssize_t nargs, PyObject* kwnames) {
    try {
        PyObject* resolved[kMaxParams];
        if (!parse_arguments(sig, args, nargs, kwnames, resolved)) return nullptr;
        if (def.flags & kStatic) {
            Call call(self, def.borrow, resolved, no_graph, state_of_type_object);
            return def.impl(call);
        }
        Call::TakeGraph take = no_graph;
        if constexpr (HasGraph<Class>) take = Class::graph;
        Call::StateOf state = state_of;
        if constexpr (HasState<Class>) state = Class::state;
        Call::TakeView view = nullptr;
        if constexpr (HasView<Class>) view = Class::view;
        if constexpr (ThreadBound<Class>) {
            HandleState& h = Class::handle(self);
            if (h.thread != current_thread_token()) return raise_unsendable(Class::kTypeName);
            BorrowGuard handle;
            if (!handle.acquire(h.flag, def.borrow)) return raise_borrow_conflict(def.borrow);
            std::vector<std::string> warnings;
            PyRef result = run_impl(def, Call(self, def.borrow, resolved, take, state, view), warnings);
            handle.release();
            return finish_call(std::move(result), warnings);
        } else {
            std::vector<std::string> warnings;
            PyRef result = run_impl(def, Call(self, def.borrow, resolved, take, state, view), warnings);
            return finish_call(std::move(result), warnings);
        }
    } catch (...) {
        return raise_from_current_exception();
    }
}

template <const auto& Table, std::size_t I, class Class>
Signature*& signature_slot() {
    static Signature* sig = nullptr;
    return sig;
}

template <const auto& Table, std::size_t I, class Class>
PyObject* trampoline(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return dispatch<Class>(Table[I], *signature_slot<Table, I, Class>(), self, args, nargs, kwnames);
}

template <const auto& Table, class Class, std::size_t... I>
void append(std::vector<PyMethodDef>& methods, std::vector<PyMethodDef>& statics, std::index_sequence<I...>) {
    (
        [&] {
            const MethodDef& def = Table[I];
            const bool is_static = def.flags & kStatic;
            Signature*& sig = signature_slot<Table, I, Class>();
            if (!sig) {
                std::string qual = Class::kName.empty() ? std::string(def.name)
                                                        : std::string(Class::kName) + "." + def.name;
                sig = new Signature(make_signature(std::move(qual), def.name, def.params, def.param_count,
                                                   !is_static && !Class::kName.empty()));
            }
            (is_static ? statics : methods)
                .push_back(PyMethodDef{
                    def.name,
                    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(trampoline<Table, I, Class>)),
                    METH_FASTCALL | METH_KEYWORDS, sig->doc.c_str()});
        }(),
        ...);
}

template <auto F>
struct ImplTraits;

template <class Args, PyObject* (*F)(Call&, Args&)>
struct ImplTraits<F> {
    using ArgsType = Args;
    static PyObject* entry(Call& c) {
        Args args{};
        if (!convert_params(c.args(), args)) return nullptr;
        return F(c, args);
    }
    static constexpr const ParamText* params = kParamTexts<Args>.data();
    static constexpr std::size_t count = kParamTexts<Args>.size();
};

template <PyObject* (*F)(Call&)>
struct ImplTraits<F> {
    static PyObject* entry(Call& c) { return F(c); }
    static constexpr const ParamText* params = nullptr;
    static constexpr std::size_t count = 0;
};

}  // namespace detail

// One table entry: the method `name`, borrowing the handle in `borrow`, implemented by F,
// which takes (Call&) or (Call&, Args&) with Args declaring its params.
template <auto F>
constexpr MethodDef method(const char* name, Borrow borrow, unsigned flags = 0) {
    using T = detail::ImplTraits<F>;
    return MethodDef{name, borrow, T::params, T::count, &T::entry, flags};
}

// A class's method list under construction. Lives as long as the process: the type objects
// of every module instance point into it.
class MethodList {
public:
    // Appends every method of Table, bound for Class.
    template <class Class, const auto& Table>
    void add() {
        detail::append<Table, Class>(methods_, statics_, std::make_index_sequence<std::size(Table)>{});
    }
    // The instance methods, null-terminated: the Py_tp_methods slot or PyModule_AddFunctions.
    PyMethodDef* defs() {
        if (methods_.empty() || methods_.back().ml_name) methods_.push_back(PyMethodDef{nullptr, nullptr, 0, nullptr});
        return methods_.data();
    }
    // Attaches the static methods to a new class as staticmethod objects whose self is the class.
    int attach_statics(PyObject* type);

private:
    std::vector<PyMethodDef> methods_;
    std::vector<PyMethodDef> statics_;
};

// The method list of a class with a single table, built once per process.
template <class Class, const auto& Table>
MethodList& class_methods() {
    static MethodList* list = [] {
        auto* l = new MethodList();
        l->add<Class, Table>();
        return l;
    }();
    return *list;
}

// Creates a class of the module from its spec, with `methods` as its Py_tp_methods and its
// static methods attached; immutable (when the spec says so) only once they are attached.
PyObject* new_class(PyObject* module, const PyType_Spec& spec, MethodList& methods);

}  // namespace qm::py
