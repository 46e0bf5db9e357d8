// Conversions of single Python arguments. Each returns false with a Python error set;
// type mismatches are raised as TypeError "argument '{name}': {reason}".
#pragma once

#include "py_api/pyref.hpp"

#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "py_api/params.hpp"

namespace qm::py {

// Ints and objects with __index__, 0 .. 2^64-1; out of range raises OverflowError.
bool to_u64(PyObject* o, std::string_view name, std::uint64_t& out);
// A str (or subclass), as UTF-8.
bool to_text(PyObject* o, std::string_view name, std::string& out);
// Any sequence of str except a str itself.
bool to_text_list(PyObject* o, std::string_view name, std::vector<std::string>& out);
// Any sequence of ids except a str.
bool to_u64_list(PyObject* o, std::string_view name, std::vector<std::uint64_t>& out);
// Ints and floats.
bool to_f64(PyObject* o, std::string_view name, double& out);

// A dict argument whose reading the impl does itself (after taking the graph, by
// conversions that run no Python code): only its type is checked while arguments convert.
struct DictArg {
    PyObject* dict = nullptr;  // borrowed from the call's arguments; nullptr when None
};
bool to_dict_arg(PyObject* o, std::string_view name, DictArg& out);

template <>
struct Converter<std::uint64_t> {
    static bool convert(PyObject* o, std::string_view name, std::uint64_t& out) { return to_u64(o, name, out); }
};
template <>
struct Converter<double> {
    static bool convert(PyObject* o, std::string_view name, double& out) { return to_f64(o, name, out); }
};
template <>
struct Converter<std::string> {
    static bool convert(PyObject* o, std::string_view name, std::string& out) { return to_text(o, name, out); }
};
template <>
struct Converter<std::vector<std::string>> {
    static bool convert(PyObject* o, std::string_view name, std::vector<std::string>& out) {
        return to_text_list(o, name, out);
    }
};
template <>
struct Converter<std::vector<std::uint64_t>> {
    static bool convert(PyObject* o, std::string_view name, std::vector<std::uint64_t>& out) {
        return to_u64_list(o, name, out);
    }
};
template <>
struct Converter<DictArg> {
    static bool convert(PyObject* o, std::string_view name, DictArg& out) { return to_dict_arg(o, name, out); }
};
// None is an empty optional; anything else converts as T.
template <class T>
struct Converter<std::optional<T>> {
    static bool convert(PyObject* o, std::string_view name, std::optional<T>& out) {
        if (o == Py_None) {
            out.reset();
            return true;
        }
        T value{};
        if (!Converter<T>::convert(o, name, value)) return false;
        out = std::move(value);
        return true;
    }
};

// UTF-8 view of a str; false with the error set (e.g. lone surrogates).
bool utf8_of(PyObject* str, std::string_view& out);

// A new list with one item per element, made by make(element) (a new reference or null).
template <class Seq, class Make>
PyObject* py_list(const Seq& items, Make&& make) {
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(std::size(items))));
    if (!list) return nullptr;
    Py_ssize_t i = 0;
    for (const auto& item : items) {
        PyObject* v = make(item);
        if (!v) return nullptr;
        PyList_SET_ITEM(list.get(), i++, v);
    }
    return list.release();
}

// New Python objects from engine values.
PyObject* py_text(std::string_view text);
PyObject* py_u64(std::uint64_t v);
PyObject* py_u64_list(const std::vector<std::uint64_t>& ids);
PyObject* py_text_list(const std::vector<std::string>& texts);

}  // namespace qm::py
