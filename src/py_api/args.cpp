#include "py_api/args.hpp"

#include <climits>
#include <unordered_map>

#include "py_api/binding_messages.hpp"
#include "py_api/errors.hpp"

namespace qm::py {

namespace {

// Shared walk of a list-like value: refuses str, then visits each item.
template <class F>
bool for_each_item(PyObject* o, F&& f) {
    if (PyUnicode_Check(o)) {
        raise_type_error(msg::kStrIsNotList);
        return false;
    }
    if (!PySequence_Check(o)) {
        raise_type_error(msg::cannot_convert(type_name_of(o), "Sequence"));
        return false;
    }
    Py_ssize_t n = PySequence_Size(o);
    if (n < 0) return false;
    // The length is re-read each turn: a custom sequence may change while we walk it.
    for (Py_ssize_t i = 0; i < n && i < PySequence_Size(o); ++i) {
        PyRef item = PyRef::steal(PySequence_GetItem(o, i));
        if (!item || !f(item.get())) return false;
    }
    return !PyErr_Occurred();
}

}  // namespace

std::string type_name_of(PyObject* o) {
    PyRef name = PyRef::steal(PyType_GetName(Py_TYPE(o)));
    const char* utf8 = name ? PyUnicode_AsUTF8(name.get()) : nullptr;
    if (!utf8) {
        PyErr_Clear();
        return "object";
    }
    return utf8;
}

bool utf8_of(PyObject* str, std::string_view& out) {
    Py_ssize_t len = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(str, &len);
    if (!utf8) return false;
    out = std::string_view(utf8, static_cast<std::size_t>(len));
    return true;
}

bool read_u64(PyObject* o, std::uint64_t& out) {
    // Plain small ints, the usual case, need no index conversion.
    if (PyLong_CheckExact(o) && PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(o))) {
        Py_ssize_t n = PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject*>(o));
        if (n >= 0) {
            out = static_cast<std::uint64_t>(n);
            return true;
        }
    }
    PyRef index = PyRef::steal(PyNumber_Index(o));
    if (!index) return false;
    unsigned long long v = PyLong_AsUnsignedLongLong(index.get());
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    out = v;
    return true;
}

bool read_text(PyObject* o, std::string& out) {
    if (!PyUnicode_Check(o)) {
        raise_type_error(msg::cannot_convert(type_name_of(o), "PyString"));
        return false;
    }
    std::string_view view;
    if (!utf8_of(o, view)) return false;
    out.assign(view);
    return true;
}

bool read_f64(PyObject* o, double& out) {
    double v = PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) return false;
    out = v;
    return true;
}

bool read_text_list(PyObject* o, std::vector<std::string>& out) {
    std::vector<std::string> items;
    bool ok = for_each_item(o, [&](PyObject* item) {
        std::string s;
        if (!read_text(item, s)) return false;
        items.push_back(std::move(s));
        return true;
    });
    if (ok) out = std::move(items);
    return ok;
}

bool read_u64_list(PyObject* o, std::vector<std::uint64_t>& out) {
    std::vector<std::uint64_t> items;
    bool ok = for_each_item(o, [&](PyObject* item) {
        std::uint64_t v = 0;
        if (!read_u64(item, v)) return false;
        items.push_back(v);
        return true;
    });
    if (ok) out = std::move(items);
    return ok;
}

bool read_f64_list(PyObject* o, std::vector<double>& out) {
    std::vector<double> items;
    bool ok = for_each_item(o, [&](PyObject* item) {
        double v = 0.0;
        // Floats, the usual items of a table, are read without the number protocol.
        if (PyFloat_CheckExact(item)) v = PyFloat_AS_DOUBLE(item);
        else if (!read_f64(item, v)) return false;
        items.push_back(v);
        return true;
    });
    if (ok) out = std::move(items);
    return ok;
}

bool read_seed_map(PyObject* o, SeedMap& out) {
    if (!PyDict_Check(o)) {
        raise_type_error(msg::cannot_convert(type_name_of(o), "PyDict"));
        return false;
    }
    // The items are copied out first, so keys whose __index__ runs Python code cannot
    // disturb the walk over the dict.
    PyRef items = PyRef::steal(PyDict_Items(o));
    if (!items) return false;
    const Py_ssize_t n = PyList_GET_SIZE(items.get());
    std::vector<std::pair<std::uint64_t, double>> seeds;
    seeds.reserve(static_cast<std::size_t>(n));
    std::unordered_map<std::uint64_t, std::size_t> position;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* pair = PyList_GET_ITEM(items.get(), i);
        std::uint64_t node = 0;
        double amount = 0.0;
        if (!read_u64(PyTuple_GET_ITEM(pair, 0), node) || !read_f64(PyTuple_GET_ITEM(pair, 1), amount))
            return false;
        auto [it, fresh] = position.try_emplace(node, seeds.size());
        if (fresh) seeds.emplace_back(node, amount);
        else seeds[it->second].second = amount;
    }
    out.items = std::move(seeds);
    return true;
}

bool read_bool(PyObject* o, bool& out) {
    if (!PyBool_Check(o)) {
        raise_type_error(msg::cannot_convert(type_name_of(o), "PyBool"));
        return false;
    }
    out = o == Py_True;
    return true;
}

bool read_dict(PyObject* o, PyObject*& out) {
    if (o == Py_None) {
        out = nullptr;
        return true;
    }
    if (!PyDict_Check(o)) {
        raise_type_error(msg::cannot_convert(type_name_of(o), "PyDict"));
        return false;
    }
    out = o;
    return true;
}

void wrap_argument_error(std::string_view name) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
    PyRef exc = PyRef::steal(PyErr_GetRaisedException());
    PyRef text = PyRef::steal(PyObject_Str(exc.get()));
    const char* utf8 = text ? PyUnicode_AsUTF8(text.get()) : nullptr;
    if (!utf8) return;
    raise_type_error(msg::argument_error(name, utf8));
}

bool replace_error(std::string_view message) {
    // Running out of memory or being interrupted says nothing about the field's value.
    if (PyErr_Occurred() &&
        (!PyErr_ExceptionMatches(PyExc_Exception) || PyErr_ExceptionMatches(PyExc_MemoryError)))
        return false;
    PyErr_Clear();
    raise_value_error(message);
    return false;
}

bool to_u64(PyObject* o, std::string_view name, std::uint64_t& out) {
    if (read_u64(o, out)) return true;
    wrap_argument_error(name);
    return false;
}

bool to_text(PyObject* o, std::string_view name, std::string& out) {
    if (read_text(o, out)) return true;
    wrap_argument_error(name);
    return false;
}

bool to_f64(PyObject* o, std::string_view name, double& out) {
    if (read_f64(o, out)) return true;
    wrap_argument_error(name);
    return false;
}

namespace {
// Levels entered on this thread; readers run with the interpreter lock held, one at a time
// per thread, and a reader that runs Python code which starts another read nests inside it.
thread_local int nesting_depth = 0;
}  // namespace

NestingGuard::NestingGuard() : entered_(nesting_depth < kMaxNesting) {
    if (entered_) ++nesting_depth;
    else PyErr_SetString(PyExc_RecursionError, msg::nested_too_deeply(kMaxNesting).c_str());
}

NestingGuard::~NestingGuard() {
    if (entered_) --nesting_depth;
}

PyObject* py_text(std::string_view text) {
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

PyObject* py_u64(std::uint64_t v) {
    // The signed constructor has a short path for one-digit values (every id of a graph
    // below a billion records); the unsigned one always counts digits.
    if (v <= static_cast<std::uint64_t>(LLONG_MAX)) return PyLong_FromLongLong(static_cast<long long>(v));
    return PyLong_FromUnsignedLongLong(v);
}

PyObject* py_u64_list(const std::vector<std::uint64_t>& ids) { return py_list(ids, py_u64); }

PyObject* py_text_list(const std::vector<std::string>& texts) {
    return py_list(texts, [](const std::string& t) { return py_text(t); });
}

}  // namespace qm::py
