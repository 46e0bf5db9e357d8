#include "py_api/cypher_values.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "cypher/messages.hpp"
#include "py_api/args.hpp"
#include "py_api/errors.hpp"
#include "py_api/records.hpp"

namespace qm::py {

namespace cm = cypher::msg;
using cypher::CypherValue;

namespace {

// Leaves the interpreter's recursion check on every path. Guards the C stack while values the
// engine built are turned into Python objects; parameters coming in are bounded by NestingGuard.
struct RecursionGuard {
    bool entered;
    explicit RecursionGuard(const char* where) : entered(Py_EnterRecursiveCall(where) == 0) {}
    ~RecursionGuard() {
        if (entered) Py_LeaveRecursiveCall();
    }
};

bool text_of(PyObject* str, std::string& out) {
    std::string_view view;
    if (!utf8_of(str, view)) return false;
    out.assign(view);
    return true;
}

bool value_from_py(PyObject* o, CypherValue& out) {
    if (o == Py_None) {
        out = cypher::Null{};
        return true;
    }
    struct Scalar {
        CypherValue& out;
        bool on_bool(bool b) { return out = b, true; }
        bool on_int(std::int64_t n) { return out = n, true; }
        bool on_float(double d) {
            if (!std::isfinite(d)) {
                raise_value_error(cm::kParameterFinite);
                return false;
            }
            out = d;
            return true;
        }
        bool on_text(std::string_view s) { return out = std::string(s), true; }
    };
    switch (read_scalar(o, Scalar{out})) {
        case ScalarRead::Done: return true;
        case ScalarRead::Failed: return false;
        case ScalarRead::NotScalar: break;
    }
    if (PyList_Check(o)) {
        NestingGuard level;
        if (!level) return false;
        cypher::CypherList items;
        // The list cannot change under us: converting its items runs no Python code.
        Py_ssize_t n = PyList_GET_SIZE(o);
        items.resize(static_cast<std::size_t>(n));
        for (Py_ssize_t i = 0; i < n; ++i)
            if (!value_from_py(PyList_GET_ITEM(o, i), items[static_cast<std::size_t>(i)])) return false;
        out = std::move(items);
        return true;
    }
    if (PyDict_Check(o)) {
        NestingGuard level;
        if (!level) return false;
        cypher::CypherMap map;
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(o, &pos, &key, &value)) {
            if (!PyUnicode_Check(key)) {
                raise_value_error(cm::kMapKeys);
                return false;
            }
            std::pair<std::string, CypherValue> entry;
            if (!text_of(key, entry.first) || !value_from_py(value, entry.second)) return false;
            map.push_back(std::move(entry));
        }
        std::sort(map.begin(), map.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        out = std::move(map);
        return true;
    }
    raise_value_error(cm::kParameterTypes);
    return false;
}

}  // namespace

bool params_from_py(PyObject* dict_or_none, cypher::Params& out) {
    if (dict_or_none == Py_None) return true;
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(dict_or_none, &pos, &key, &value)) {
        if (!PyUnicode_Check(key)) {
            raise_value_error(cm::kParameterKeys);
            return false;
        }
        std::string name;
        CypherValue v;
        if (!text_of(key, name) || !value_from_py(value, v)) return false;
        out.insert_or_assign(std::move(name), std::move(v));
    }
    return true;
}

PyObject* cypher_value_to_py(ModuleState* st, const CypherValue& value) {
    switch (value.v.index()) {
        case 0: Py_RETURN_NONE;
        case 1: return PyBool_FromLong(std::get<bool>(value.v));
        case 2: return PyLong_FromLongLong(std::get<std::int64_t>(value.v));
        case 3: return PyFloat_FromDouble(std::get<double>(value.v));
        case 4: return py_text(std::get<std::string>(value.v));
        case 5: return make_node(st, *std::get<cypher::NodeValue>(value.v).record);
        case 6: return make_edge(st, *std::get<cypher::EdgeValue>(value.v).record);
        case 7: {
            RecursionGuard guard(" while converting a Cypher value");
            if (!guard.entered) return nullptr;
            return py_list(std::get<cypher::CypherList>(value.v),
                           [st](const CypherValue& item) { return cypher_value_to_py(st, item); });
        }
        case 8: {
            RecursionGuard guard(" while converting a Cypher value");
            if (!guard.entered) return nullptr;
            PyRef dict = PyRef::steal(PyDict_New());
            if (!dict) return nullptr;
            for (const auto& [k, v] : std::get<cypher::CypherMap>(value.v)) {
                PyRef key = PyRef::steal(py_text(k));
                PyRef item = PyRef::steal(cypher_value_to_py(st, v));
                if (!key || !item || PyDict_SetItem(dict.get(), key.get(), item.get()) < 0) return nullptr;
            }
            return dict.release();
        }
    }
    Py_RETURN_NONE;
}

}  // namespace qm::py
