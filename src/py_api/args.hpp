// The converter toolkit: every reading of a Python value into an engine value, and the
// few builders of Python values from engine ones. Methods, record dicts, batch jobs and the
// coming query, Cypher and model inputs all read through it, so a scalar, a sequence or a
// dict field means the same thing everywhere.
//
// Three layers:
// - readers (read_u64, read_text, ...): false with a TypeError stating the reason
//   ("'str' object cannot be converted to 'PyString'") or the interpreter's own error
//   (OverflowError for an int out of range);
// - Converter<T>, the reader for a field of type T (params.hpp), so a method's parameters
//   and a dict's fields convert alike;
// - contexts that name the failure: arguments wrap a TypeError as "argument '{}': {}"
//   (wrap_argument_error); dict fields replace the error with their own ValueError
//   (replace_error, read_fields in params.hpp).
#pragma once

#include "py_api/pyref.hpp"

#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "py_api/params.hpp"

namespace qm::py {

// The name of o's type, for messages ("object" when even that fails).
std::string type_name_of(PyObject* o);

// UTF-8 view of a str; false with the error set (e.g. lone surrogates).
bool utf8_of(PyObject* str, std::string_view& out);

// Ints and objects with __index__, 0 .. 2^64-1; out of range raises OverflowError.
bool read_u64(PyObject* o, std::uint64_t& out);
// A str (or subclass), as UTF-8.
bool read_text(PyObject* o, std::string& out);
// Ints and floats (anything with __float__ or __index__).
bool read_f64(PyObject* o, double& out);
// Any sequence except a str, item by item; refuses a str with "Can't extract `str` to `Vec`".
bool read_text_list(PyObject* o, std::vector<std::string>& out);
bool read_u64_list(PyObject* o, std::vector<std::uint64_t>& out);
bool read_f64_list(PyObject* o, std::vector<double>& out);
// Exactly a bool: an int is refused rather than read as truth.
bool read_bool(PyObject* o, bool& out);
// A dict, or None for nullptr.
bool read_dict(PyObject* o, PyObject*& out);

// Readers in argument context (wrap_argument_error, params.hpp), for values read outside a
// parameter declaration.
bool to_u64(PyObject* o, std::string_view name, std::uint64_t& out);
bool to_text(PyObject* o, std::string_view name, std::string& out);
bool to_f64(PyObject* o, std::string_view name, double& out);

// Scalars in the one order every value reader uses: bool before int (a bool is an int to
// Python) before float before str. Calls the visitor's on_bool(bool), on_int(std::int64_t),
// on_float(double) or on_text(std::string_view), each returning false with an error set.
enum class ScalarRead { Done, Failed, NotScalar };

template <class Visitor>
ScalarRead read_scalar(PyObject* o, Visitor&& v) {
    auto done = [](bool ok) { return ok ? ScalarRead::Done : ScalarRead::Failed; };
    if (PyBool_Check(o)) return done(v.on_bool(o == Py_True));
    if (PyLong_Check(o)) {
        // Small ints, the usual case, are read without the overflow check's round trip.
        if (PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(o)))
            return done(v.on_int(PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject*>(o))));
        long long n = PyLong_AsLongLong(o);
        if (n == -1 && PyErr_Occurred()) return ScalarRead::Failed;  // OverflowError, as the interpreter says
        return done(v.on_int(static_cast<std::int64_t>(n)));
    }
    if (PyFloat_Check(o)) return done(v.on_float(PyFloat_AS_DOUBLE(o)));
    if (PyUnicode_Check(o)) {
        std::string_view s;
        if (!utf8_of(o, s)) return ScalarRead::Failed;
        return done(v.on_text(s));
    }
    return ScalarRead::NotScalar;
}

// How deep a nested Python value (a query dict, Cypher parameters, a factor table) may go.
// A value that contains itself is infinitely deep, so the same bound stops it.
inline constexpr int kMaxNesting = 100;

// One level of a nested value being read: a recursive reader holds one while it reads the
// items of a container, and stops when it is false (RecursionError set: the value lies
// deeper than kMaxNesting levels, or contains itself).
//
//     bool read_value(PyObject* o, Value& out) {
//         if (PyList_Check(o)) {
//             NestingGuard level;
//             if (!level) return false;
//             ... read_value(item, ...) for each item
class NestingGuard {
public:
    NestingGuard();
    ~NestingGuard();
    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;
    explicit operator bool() const { return entered_; }

private:
    bool entered_;
};

// A dict of node id -> amount (propagation seeds) as pairs in the dict's own order. Distinct
// keys that name the same node collapse as a map would: the first position, the last value.
struct SeedMap {
    std::vector<std::pair<std::uint64_t, double>> items;
};
// None included: seeds are required.
bool read_seed_map(PyObject* o, SeedMap& out);

// A dict argument whose reading the impl does itself (after taking the graph, by
// conversions that run no Python code): only its type is checked while arguments convert.
struct DictArg {
    PyObject* dict = nullptr;  // borrowed from the call's arguments; nullptr when None
};

template <>
struct Converter<std::uint64_t> {
    static constexpr std::string_view kNoun = "an int";
    static bool read(PyObject* o, std::uint64_t& out) { return read_u64(o, out); }
};
template <>
struct Converter<double> {
    static constexpr std::string_view kNoun = "a number";
    static bool read(PyObject* o, double& out) { return read_f64(o, out); }
};
template <>
struct Converter<std::string> {
    static constexpr std::string_view kNoun = "a string";
    static bool read(PyObject* o, std::string& out) { return read_text(o, out); }
};
template <>
struct Converter<std::vector<std::string>> {
    static constexpr std::string_view kNoun = "a list of strings";
    static bool read(PyObject* o, std::vector<std::string>& out) { return read_text_list(o, out); }
};
template <>
struct Converter<std::vector<std::uint64_t>> {
    static constexpr std::string_view kNoun = "a list of ints";
    static bool read(PyObject* o, std::vector<std::uint64_t>& out) { return read_u64_list(o, out); }
};
template <>
struct Converter<std::vector<double>> {
    static constexpr std::string_view kNoun = "a list of numbers";
    static bool read(PyObject* o, std::vector<double>& out) { return read_f64_list(o, out); }
};
template <>
struct Converter<SeedMap> {
    static constexpr std::string_view kNoun = "a dict";
    static bool read(PyObject* o, SeedMap& out) { return read_seed_map(o, out); }
};
template <>
struct Converter<DictArg> {
    static constexpr std::string_view kNoun = "a dict";
    static bool read(PyObject* o, DictArg& out) { return read_dict(o, out.dict); }
};
// None is an empty optional; anything else reads as T.
template <class T>
struct Converter<std::optional<T>> {
    static constexpr std::string_view kNoun = Converter<T>::kNoun;
    static bool read(PyObject* o, std::optional<T>& out) {
        if (o == Py_None) {
            out.reset();
            return true;
        }
        T value{};
        if (!Converter<T>::read(o, value)) return false;
        out = std::move(value);
        return true;
    }
};

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
