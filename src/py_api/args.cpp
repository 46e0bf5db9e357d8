#include "py_api/args.hpp"

#include <climits>

#include "py_api/errors.hpp"

namespace qm::py {

namespace {

std::string type_name_of(PyObject* o) {
    PyRef name = PyRef::steal(PyType_GetName(Py_TYPE(o)));
    if (!name) {
        PyErr_Clear();
        return "object";
    }
    const char* utf8 = PyUnicode_AsUTF8(name.get());
    if (!utf8) {
        PyErr_Clear();
        return "object";
    }
    return utf8;
}

// Shared walk of a list-like argument: refuses str, then visits each item.
template <class F>
bool for_each_item(PyObject* o, std::string_view name, F&& f) {
    if (PyUnicode_Check(o)) {
        raise_argument_type_error(name, "Can't extract `str` to `Vec`");
        return false;
    }
    if (!PySequence_Check(o)) {
        raise_argument_type_error(name, "'" + type_name_of(o) + "' object cannot be converted to 'Sequence'");
        return false;
    }
    Py_ssize_t n = PySequence_Size(o);
    if (n < 0) {
        wrap_argument_error(name);
        return false;
    }
    // The length is re-read each turn: a custom sequence may change while we walk it.
    for (Py_ssize_t i = 0; i < n && i < PySequence_Size(o); ++i) {
        PyRef item = PyRef::steal(PySequence_GetItem(o, i));
        if (!item) {
            wrap_argument_error(name);
            return false;
        }
        if (!f(item.get())) return false;
    }
    if (PyErr_Occurred()) {
        wrap_argument_error(name);
        return false;
    }
    return true;
}

}  // namespace

bool utf8_of(PyObject* str, std::string_view& out) {
    Py_ssize_t len = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(str, &len);
    if (!utf8) return false;
    out = std::string_view(utf8, static_cast<std::size_t>(len));
    return true;
}

bool to_u64(PyObject* o, std::string_view name, std::uint64_t& out) {
    PyRef index = PyRef::steal(PyNumber_Index(o));
    if (!index) {
        wrap_argument_error(name);
        return false;
    }
    unsigned long long v = PyLong_AsUnsignedLongLong(index.get());
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        wrap_argument_error(name);
        return false;
    }
    out = v;
    return true;
}

bool to_text(PyObject* o, std::string_view name, std::string& out) {
    if (!PyUnicode_Check(o)) {
        raise_argument_type_error(name, "'" + type_name_of(o) + "' object cannot be converted to 'PyString'");
        return false;
    }
    std::string_view view;
    if (!utf8_of(o, view)) {
        wrap_argument_error(name);
        return false;
    }
    out.assign(view);
    return true;
}

bool to_text_list(PyObject* o, std::string_view name, std::vector<std::string>& out) {
    std::vector<std::string> items;
    bool ok = for_each_item(o, name, [&](PyObject* item) {
        std::string s;
        if (!to_text(item, name, s)) return false;
        items.push_back(std::move(s));
        return true;
    });
    if (ok) out = std::move(items);
    return ok;
}

bool to_u64_list(PyObject* o, std::string_view name, std::vector<std::uint64_t>& out) {
    std::vector<std::uint64_t> items;
    bool ok = for_each_item(o, name, [&](PyObject* item) {
        std::uint64_t v = 0;
        if (!to_u64(item, name, v)) return false;
        items.push_back(v);
        return true;
    });
    if (ok) out = std::move(items);
    return ok;
}

bool to_f64(PyObject* o, std::string_view name, double& out) {
    double v = PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) {
        wrap_argument_error(name);
        return false;
    }
    out = v;
    return true;
}

bool to_dict_arg(PyObject* o, std::string_view name, DictArg& out) {
    if (o == Py_None) {
        out.dict = nullptr;
        return true;
    }
    if (!PyDict_Check(o)) {
        raise_argument_type_error(name, "'" + type_name_of(o) + "' object cannot be converted to 'PyDict'");
        return false;
    }
    out.dict = o;
    return true;
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
