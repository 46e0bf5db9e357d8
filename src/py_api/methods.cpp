#include "py_api/methods.hpp"

#include <atomic>
#include <cstring>
#include <stdexcept>

#include "py_api/args.hpp"
#include "py_api/errors.hpp"

namespace qm::py {

namespace {

std::string trim(std::string s) {
    std::size_t a = s.find_first_not_of(' ');
    std::size_t b = s.find_last_not_of(' ');
    if (a == std::string::npos) return {};
    return s.substr(a, b - a + 1);
}

// Default values in text-signature syntax: None, True, False, "text", ints and floats.
PyObject* parse_default(const std::string& text) {
    if (text == "None") return Py_None;
    if (text == "True") return Py_True;
    if (text == "False") return Py_False;
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        return PyUnicode_FromStringAndSize(text.data() + 1, static_cast<Py_ssize_t>(text.size() - 2));
    if (text.find_first_of(".eE") != std::string::npos) return PyFloat_FromDouble(std::stod(text));
    return PyLong_FromLongLong(std::stoll(text));
}

std::string plural(std::size_t n, const char* word) {
    return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

}  // namespace

unsigned long current_thread_token() {
    static std::atomic<unsigned long> next{0};
    thread_local const unsigned long token = ++next;
    return token;
}

Signature make_signature(const char* qualname, const char* name, const char* params, bool method) {
    Signature sig;
    sig.qualname = qualname;
    std::string p = params;
    sig.doc = std::string(name) + "(" + (method ? (p.empty() ? "$self" : "$self, ") : "") + p +
              ")\n--\n\n";
    std::size_t start = 0;
    while (start < p.size()) {
        std::size_t comma = p.find(',', start);
        // Defaults never contain commas, so a plain split is exact.
        std::string item = trim(p.substr(start, comma == std::string::npos ? std::string::npos
                                                                           : comma - start));
        std::size_t eq = item.find('=');
        if (eq == std::string::npos) {
            sig.names.push_back(item);
            sig.defaults.push_back(nullptr);
        } else {
            sig.names.push_back(trim(item.substr(0, eq)));
            sig.defaults.push_back(parse_default(trim(item.substr(eq + 1))));
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    // dispatch resolves arguments into a fixed array of this size.
    if (sig.names.size() > kMaxParams) throw std::length_error(sig.qualname + " has too many parameters");
    return sig;
}

bool parse_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames, PyObject** out) {
    const std::size_t n = sig.names.size();
    if (static_cast<std::size_t>(nargs) > n) {
        std::string m = sig.qualname + "() takes " + plural(n, "positional argument") + " but " +
                        std::to_string(nargs) + (nargs == 1 ? " was" : " were") + " given";
        raise_type_error(m);
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
            raise_type_error(sig.qualname + "() got an unexpected keyword argument '" +
                             std::string(name) + "'");
            return false;
        }
        if (out[j]) {
            raise_type_error(sig.qualname + "() got multiple values for argument '" +
                             std::string(name) + "'");
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
        raise_type_error(sig.qualname + "() missing " +
                         plural(missing.size(), "required positional argument") + ": " + list);
        return false;
    }
    return true;
}

PyObject* raise_borrow_conflict(Borrow wanted) {
    return raise_runtime_error(wanted == Borrow::Exclusive ? "Already borrowed"
                                                           : "Already mutably borrowed");
}

GraphCore* Call::core() {
    if (core_) return core_;
    if (owner_ == Owner::Graph) {
        auto* g = reinterpret_cast<GraphObject*>(self_);
        if (!cell_guard_.acquire(g->cell->flag, borrow_)) {
            raise_panic(borrow_ == Borrow::Exclusive ? "Already borrowed" : "Already mutably borrowed");
            return nullptr;
        }
        core_ = &g->cell->core;
    } else {
        core_ = reinterpret_cast<SnapshotObject*>(self_)->core;
    }
    return core_;
}

std::shared_ptr<GraphCell> Call::cell() const {
    if (owner_ != Owner::Graph) return nullptr;
    return reinterpret_cast<GraphObject*>(self_)->cell;
}

std::vector<std::string> Call::take_warnings() {
    if (!core_ || core_->warnings.empty()) return {};
    return std::exchange(core_->warnings, {});
}

bool Call::u64(std::size_t i, std::uint64_t& out) { return to_u64(args_[i], name(i), out); }
bool Call::text(std::size_t i, std::string& out) { return to_text(args_[i], name(i), out); }
bool Call::optional_text(std::size_t i, std::optional<std::string>& out) {
    if (args_[i] == Py_None) {
        out.reset();
        return true;
    }
    std::string s;
    if (!to_text(args_[i], name(i), s)) return false;
    out = std::move(s);
    return true;
}
bool Call::text_list(std::size_t i, std::vector<std::string>& out) {
    if (args_[i] == Py_None) return true;
    return to_text_list(args_[i], name(i), out);
}
bool Call::u64_list(std::size_t i, std::vector<std::uint64_t>& out) {
    return to_u64_list(args_[i], name(i), out);
}
bool Call::optional_u64(std::size_t i, std::optional<std::uint64_t>& out) {
    if (args_[i] == Py_None) {
        out.reset();
        return true;
    }
    std::uint64_t v = 0;
    if (!to_u64(args_[i], name(i), v)) return false;
    out = v;
    return true;
}
bool Call::f64(std::size_t i, double& out) { return to_f64(args_[i], name(i), out); }
bool Call::optional_f64(std::size_t i, std::optional<double>& out) {
    if (args_[i] == Py_None) {
        out.reset();
        return true;
    }
    double v = 0;
    if (!to_f64(args_[i], name(i), v)) return false;
    out = v;
    return true;
}

PyObject* dispatch(const MethodDef& def, const Signature& sig, Owner owner, PyObject* self,
                   PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    try {
        PyObject* resolved[kMaxParams];
        if (!parse_arguments(sig, args, nargs, kwnames, resolved)) return nullptr;
        BorrowFlag* flag;
        unsigned long thread;
        const char* type_name;
        if (owner == Owner::Graph) {
            auto* g = reinterpret_cast<GraphObject*>(self);
            flag = &g->flag;
            thread = g->thread;
            type_name = "quillmere::Graph";
        } else {
            auto* s = reinterpret_cast<SnapshotObject*>(self);
            flag = &s->flag;
            thread = s->thread;
            type_name = "quillmere::GraphSnapshot";
        }
        if (thread != current_thread_token())
            return raise_panic(std::string(type_name) + " is unsendable, but sent to another thread");
        BorrowGuard handle;
        if (!handle.acquire(*flag, def.borrow)) return raise_borrow_conflict(def.borrow);
        PyRef result;
        std::vector<std::string> warnings;
        {
            Call call(self, owner, def.borrow, sig, resolved);
            result = PyRef::steal(def.impl(call));
            warnings = call.take_warnings();
        }
        handle.release();
        if (!result) return nullptr;
        for (const auto& w : warnings)
            if (!emit_runtime_warning(w)) return nullptr;
        return result.release();
    } catch (...) {
        return raise_from_current_exception();
    }
}

}  // namespace qm::py
