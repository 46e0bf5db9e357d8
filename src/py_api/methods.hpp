// Declarative methods. Each method is declared once (name, parameters with defaults in
// text-signature syntax, borrow mode, implementation); that one declaration yields the
// docstring's text signature and drives the argument parser, so the two cannot drift.
//
// A call runs the stated protocol: parse arguments; check the receiver's thread; borrow the
// handle; the implementation converts its arguments and then takes the graph (c.core()),
// which borrows the cell in the same mode; borrows are released on every path, and the
// core's warnings become RuntimeWarnings after they are.
#pragma once

#include "py_api/pyref.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/graph.hpp"
#include "py_api/handles.hpp"
#include "py_api/module_state.hpp"

namespace qm::py {

// Which object a method is called on: decides how the graph is reached and the
// class named in argument errors.
enum class Owner { Graph, Snapshot };

class Call;
using Impl = PyObject* (*)(Call&);

struct MethodDef {
    const char* name;
    const char* params;  // e.g. R"(node_id, direction="out", edge_type=None)"
    Borrow borrow;
    Impl impl;
};

// A parsed parameter list; defaults are materialised once as Python objects.
struct Signature {
    std::string qualname;  // "Graph.get_node"
    std::string doc;       // "get_node($self, node_id)\n--\n\n"
    std::vector<std::string> names;
    std::vector<PyObject*> defaults;  // nullptr for a required parameter
};

// Parses "a, b=None, c=\"out\", d=20, e=0.85" for the function `name`.
Signature make_signature(const char* qualname, const char* name, const char* params, bool method);

// Resolves positional and keyword arguments into one slot per parameter (borrowed refs,
// defaults filled in). False with a TypeError set on any mismatch.
bool parse_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames, PyObject** out);

inline constexpr std::size_t kMaxParams = 8;

// Names the calling thread for the thread-binding rule. Unlike the interpreter's thread
// ident, a token is never handed to a later thread, so a handle whose creator has exited
// cannot pass for that creator's on a new thread that happens to get the same ident.
unsigned long current_thread_token();

class Call {
public:
    Call(PyObject* self, Owner owner, Borrow borrow, const Signature& sig, PyObject** args)
        : self_(self), owner_(owner), borrow_(borrow), sig_(sig), args_(args) {}

    PyObject* self() const { return self_; }
    PyObject* arg(std::size_t i) const { return args_[i]; }
    bool is_none(std::size_t i) const { return args_[i] == Py_None; }
    const std::string& name(std::size_t i) const { return sig_.names[i]; }
    ModuleState* state() const { return state_of(self_); }
    Owner owner() const { return owner_; }

    // The graph, borrowed in the method's mode; nullptr with the panic exception set if the
    // cell is already borrowed in a conflicting way.
    GraphCore* core();
    // The graph's shared cell (Graph methods only), for objects that must keep it alive.
    std::shared_ptr<GraphCell> cell() const;

    // Argument conversions; false with the Python error set.
    bool u64(std::size_t i, std::uint64_t& out);
    bool text(std::size_t i, std::string& out);
    bool optional_text(std::size_t i, std::optional<std::string>& out);
    bool text_list(std::size_t i, std::vector<std::string>& out);    // None -> empty
    bool u64_list(std::size_t i, std::vector<std::uint64_t>& out);
    bool optional_u64(std::size_t i, std::optional<std::uint64_t>& out);
    bool f64(std::size_t i, double& out);
    bool optional_f64(std::size_t i, std::optional<double>& out);

    // Moves out the warnings the core operation left, so they are raised after release.
    std::vector<std::string> take_warnings();

private:
    PyObject* self_;
    Owner owner_;
    Borrow borrow_;
    const Signature& sig_;
    PyObject** args_;
    BorrowGuard cell_guard_;
    GraphCore* core_ = nullptr;
};

PyObject* dispatch(const MethodDef& def, const Signature& sig, Owner owner, PyObject* self,
                   PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

namespace detail {

template <const MethodDef* Tab, std::size_t I, Owner O>
Signature*& signature_slot() {
    static Signature* sig = nullptr;
    return sig;
}

template <const MethodDef* Tab, std::size_t I, Owner O>
PyObject* trampoline(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return dispatch(Tab[I], *signature_slot<Tab, I, O>(), O, self, args, nargs, kwnames);
}

template <const MethodDef* Tab, Owner O, std::size_t... I>
void append_methods(std::vector<PyMethodDef>& out, const char* cls, std::index_sequence<I...>) {
    (
        [&] {
            Signature*& sig = signature_slot<Tab, I, O>();
            if (!sig) {
                std::string qual = std::string(cls) + "." + Tab[I].name;
                sig = new Signature(make_signature(qual.c_str(), Tab[I].name, Tab[I].params, true));
            }
            out.push_back(PyMethodDef{
                Tab[I].name,
                reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(trampoline<Tab, I, O>)),
                METH_FASTCALL | METH_KEYWORDS, sig->doc.c_str()});
        }(),
        ...);
}

}  // namespace detail

// Appends the methods of a table to a class's method list, bound for that class.
template <const MethodDef* Tab, std::size_t N, Owner O>
void append_methods(std::vector<PyMethodDef>& out) {
    detail::append_methods<Tab, O>(out, O == Owner::Graph ? "Graph" : "GraphSnapshot",
                                   std::make_index_sequence<N>{});
}

}  // namespace qm::py
