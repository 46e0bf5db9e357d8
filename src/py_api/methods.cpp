#include "py_api/methods.hpp"

#include <atomic>
#include <cstring>
#include <stdexcept>

#include "py_api/args.hpp"
#include "py_api/binding_messages.hpp"
#include "py_api/errors.hpp"

namespace qm::py {

namespace {

// Default values in text-signature syntax: None, True, False, "text", ints and floats.
PyObject* parse_default(std::string_view view) {
    std::string text(view);
    if (text == "None") return Py_None;
    if (text == "True") return Py_True;
    if (text == "False") return Py_False;
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        return PyUnicode_FromStringAndSize(text.data() + 1, static_cast<Py_ssize_t>(text.size() - 2));
    if (text.find_first_of(".eE") != std::string::npos) return PyFloat_FromDouble(std::stod(text));
    return PyLong_FromLongLong(std::stoll(text));
}

}  // namespace

PyObject* default_object(std::string_view text) {
    // Few distinct texts exist (the defaults of the declarations), each made once and kept.
    static std::vector<std::pair<std::string, PyObject*>>* made = new std::vector<std::pair<std::string, PyObject*>>();
    for (const auto& [t, o] : *made)
        if (t == text) return o;
    PyObject* o = parse_default(text);
    if (o) made->emplace_back(std::string(text), o);
    return o;
}

unsigned long current_thread_token() {
    static std::atomic<unsigned long> next{0};
    thread_local const unsigned long token = ++next;
    return token;
}

Signature make_signature(std::string qualname, const char* name, const ParamText* params,
                         std::size_t count, bool self_param) {
    // The resolved arguments live in a fixed array of kMaxParams.
    if (count > kMaxParams) throw std::length_error(qualname + " has too many parameters");
    Signature sig;
    sig.qualname = std::move(qualname);
    sig.doc = std::string(name) + "(" + (self_param ? "$self" : "");
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0 || self_param) sig.doc += ", ";
        sig.doc += params[i].name;
        sig.names.emplace_back(params[i].name);
        if (params[i].default_text.empty()) {
            sig.defaults.push_back(nullptr);
        } else {
            sig.doc += "=";
            sig.doc += params[i].default_text;
            PyObject* value = default_object(params[i].default_text);
            if (!value) throw std::runtime_error("cannot build the default of " + sig.qualname);
            sig.defaults.push_back(value);
        }
    }
    sig.doc += ")\n--\n\n";
    return sig;
}

bool parse_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames, PyObject** out) {
    const std::size_t n = sig.names.size();
    if (static_cast<std::size_t>(nargs) > n) {
        raise_type_error(msg::too_many_positional(sig.qualname, n, static_cast<std::size_t>(nargs)));
        return false;
    }
    for (std::size_t i = 0; i < n; ++i) out[i] = i < static_cast<std::size_t>(nargs) ? args[i] : nullptr;
    Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        Py_ssize_t len = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(key, &len);
        if (!utf8) return false;
        std::string_view name(utf8, static_cast<std::size_t>(len));
        std::size_t j = 0;
        while (j < n && sig.names[j] != name) ++j;
        if (j == n) {
            raise_type_error(msg::unexpected_keyword(sig.qualname, name));
            return false;
        }
        if (out[j]) {
            raise_type_error(msg::multiple_values(sig.qualname, name));
            return false;
        }
        out[j] = args[nargs + k];
    }
    std::vector<std::string> missing;
    for (std::size_t i = 0; i < n; ++i) {
        if (out[i]) continue;
        if (sig.defaults[i]) out[i] = sig.defaults[i];
        else missing.push_back("'" + sig.names[i] + "'");
    }
    if (!missing.empty()) {
        std::string list;
        for (std::size_t i = 0; i < missing.size(); ++i) {
            if (i > 0) list += missing.size() == 2 ? " and " : (i + 1 == missing.size() ? ", and " : ", ");
            list += missing[i];
        }
        raise_type_error(msg::missing_arguments(sig.qualname, missing.size(), list));
        return false;
    }
    return true;
}

PyObject* raise_borrow_conflict(Borrow wanted) {
    return raise_runtime_error(wanted == Borrow::Exclusive ? msg::kAlreadyBorrowed : msg::kAlreadyMutablyBorrowed);
}

GraphCore* GraphClass::graph(PyObject* self, Borrow mode, BorrowGuard& guard) {
    GraphCell& cell = *reinterpret_cast<GraphObject*>(self)->cell;
    if (!guard.acquire(cell.flag, mode)) {
        raise_panic(mode == Borrow::Exclusive ? msg::kAlreadyBorrowed : msg::kAlreadyMutablyBorrowed);
        return nullptr;
    }
    return &cell.graph.core();
}

int MethodList::attach_statics(PyObject* type) {
    for (PyMethodDef& def : statics_) {
        PyRef fn = PyRef::steal(PyCFunction_NewEx(&def, type, nullptr));
        if (!fn) return -1;
        PyRef sm = PyRef::steal(PyStaticMethod_New(fn.get()));
        if (!sm || PyObject_SetAttrString(type, def.ml_name, sm.get()) < 0) return -1;
    }
    return 0;
}

PyObject* new_class(PyObject* module, const PyType_Spec& spec, MethodList& methods) {
    std::vector<PyType_Slot> slots;
    for (const PyType_Slot* s = spec.slots; s->slot; ++s) slots.push_back(*s);
    slots.push_back({Py_tp_methods, methods.defs()});
    slots.push_back({0, nullptr});
    PyType_Spec mutable_spec = spec;
    mutable_spec.flags &= ~static_cast<unsigned>(Py_TPFLAGS_IMMUTABLETYPE);
    mutable_spec.slots = slots.data();
    PyRef type = PyRef::steal(PyType_FromModuleAndSpec(module, &mutable_spec, nullptr));
    if (!type || methods.attach_statics(type.get()) < 0) return nullptr;
    if (spec.flags & Py_TPFLAGS_IMMUTABLETYPE) {
        reinterpret_cast<PyTypeObject*>(type.get())->tp_flags |= Py_TPFLAGS_IMMUTABLETYPE;
        PyType_Modified(reinterpret_cast<PyTypeObject*>(type.get()));
    }
    return type.release();
}

namespace detail {

PyObject* raise_unsendable(std::string_view type_name) { return raise_panic(msg::unsendable(type_name)); }

GraphCore* no_graph(PyObject*, Borrow, BorrowGuard&) {
    raise_panic(msg::kNoGraph);
    return nullptr;
}

ModuleState* state_of_type_object(PyObject* type) {
    return state_of_type(reinterpret_cast<PyTypeObject*>(type));
}

PyObject* finish_call(PyRef result, const std::vector<std::string>& warnings) {
    if (!result) return nullptr;
    for (const auto& w : warnings)
        if (!emit_runtime_warning(w)) return nullptr;
    return result.release();
}

}  // namespace detail

}  // namespace qm::py
