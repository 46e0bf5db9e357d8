#include "py_api/query_convert.hpp"

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "py_api/args.hpp"
#include "py_api/errors.hpp"
#include "py_api/properties.hpp"
#include "query/query_messages.hpp"

namespace qm::py {

namespace {

using Fields = std::initializer_list<std::string_view>;

bool value_error(const std::string& message) {
    raise_value_error(message);
    return false;
}

// The field names as str objects, made once: a query reads a few dozen fields, and making
// each name afresh would cost more than the lookups. Interned strings live as long as the
// interpreter, which is the only one this module runs in.
PyObject* field_name(const char* key) {
    static std::vector<std::pair<const char*, PyObject*>> names;
    for (const auto& [k, v] : names)
        if (k == key) return v;
    PyObject* name = PyUnicode_InternFromString(key);
    if (name) names.emplace_back(key, name);
    return name;
}

// The value under key, or null when it is absent or None (None always means absent).
// A strong reference: reading later fields may run Python code that changes the dict.
bool get_field(PyObject* dict, const char* key, PyRef& out) {
    PyObject* name = field_name(key);
    if (!name) return false;
    PyObject* v = nullptr;
    if (PyDict_GetItemRef(dict, name, &v) < 0) return false;
    out = PyRef::steal(v);
    if (v == Py_None) out = PyRef();
    return true;
}

// A key's text for a message; keys that are not valid UTF-8 are shown with escapes.
std::string key_text(PyObject* key) {
    Py_ssize_t size = 0;
    if (const char* s = PyUnicode_AsUTF8AndSize(key, &size)) return std::string(s, static_cast<std::size_t>(size));
    PyErr_Clear();
    PyRef bytes = PyRef::steal(PyUnicode_AsEncodedString(key, "utf-8", "backslashreplace"));
    if (!bytes) {
        PyErr_Clear();
        return std::string();
    }
    return std::string(PyBytes_AS_STRING(bytes.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
}

bool reject_unknown_fields(PyObject* dict, std::string_view context, Fields allowed) {
    Py_ssize_t pos = 0;
    PyObject* key;
    PyObject* value;
    while (PyDict_Next(dict, &pos, &key, &value)) {
        if (!PyUnicode_Check(key)) return value_error(qmsg::keys_not_strings(context));
        std::string text = key_text(key);
        bool known = false;
        for (std::string_view a : allowed) known = known || a == text;
        if (!known) return value_error(qmsg::unknown_field(context, text));
    }
    return true;
}

bool text_of(PyObject* str, std::string& out) {
    std::string_view view;
    if (!utf8_of(str, view)) return false;
    out.assign(view);
    return true;
}

bool required_text(PyObject* dict, const char* field, std::size_t position, std::string& out) {
    PyRef v;
    if (!get_field(dict, field, v)) return false;
    if (!v) return value_error(qmsg::field_required(field));
    if (!PyUnicode_Check(v.get())) return value_error(qmsg::field_not_string(position, field));
    return text_of(v.get(), out);
}

bool optional_u64(PyObject* dict, const char* field, std::optional<std::uint64_t>& out) {
    PyRef v;
    if (!get_field(dict, field, v)) return false;
    if (!v) return true;
    // Anything with __index__ counts as an int, as for every id argument.
    std::uint64_t n = 0;
    if (!read_u64(v.get(), n)) return replace_error(qmsg::optional_not_int(field));
    out = n;
    return true;
}

bool optional_text(PyObject* dict, const char* field, std::optional<std::string>& out) {
    PyRef v;
    if (!get_field(dict, field, v)) return false;
    if (!v) return true;
    if (!PyUnicode_Check(v.get())) return value_error(qmsg::optional_not_string(field));
    out.emplace();
    return text_of(v.get(), *out);
}

bool optional_text_list(PyObject* dict, const char* field, std::optional<std::vector<std::string>>& out) {
    PyRef v;
    if (!get_field(dict, field, v)) return false;
    if (!v) return true;
    if (PyUnicode_Check(v.get()) || !PySequence_Check(v.get())) return value_error(qmsg::optional_not_string_list(field));
    PyRef items = PyRef::steal(PySequence_Fast(v.get(), "sequence"));
    if (!items) {
        if (PyErr_ExceptionMatches(PyExc_MemoryError)) return false;
        PyErr_Clear();
        return value_error(qmsg::optional_not_string_list(field));
    }
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(items.get());
    std::vector<std::string> texts;
    texts.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PySequence_Fast_GET_ITEM(items.get(), i);
        if (!PyUnicode_Check(item)) return value_error(qmsg::optional_not_string_list(field));
        if (!text_of(item, texts.emplace_back())) return false;
    }
    out = std::move(texts);
    return true;
}

// "properties" becomes one eq constraint per entry; then the "where" filters in order.
bool constraints_from_py(PyObject* element, std::vector<PropertyConstraint>& out) {
    PyRef props;
    if (!get_field(element, "properties", props)) return false;
    if (props) {
        if (!PyDict_Check(props.get())) return value_error(qmsg::optional_not_dict("properties"));
        PropertyMap map;
        if (!properties_from_py(props.get(), map)) return false;
        for (const auto& [key, value] : map) out.push_back(PropertyConstraint{key, PropertyOperator::Eq, ConstraintValue::of(value)});
    }
    PyRef where;
    if (!get_field(element, "where", where)) return false;
    if (!where) return true;
    if (!PyList_Check(where.get())) return value_error(std::string(qmsg::kWhereNotList));
    for (Py_ssize_t j = 0; j < PyList_GET_SIZE(where.get()); ++j) {
        PyRef filter = PyRef::borrow(PyList_GET_ITEM(where.get(), j));
        const auto pos = static_cast<std::size_t>(j);
        if (!PyDict_Check(filter.get())) return value_error(qmsg::filter_not_dict(pos));
        if (!reject_unknown_fields(filter.get(), "where filter " + std::to_string(pos), {"property", "op", "value"}))
            return false;
        PropertyConstraint c;
        if (!required_text(filter.get(), "property", pos, c.key)) return false;
        std::optional<std::string> op;
        if (!optional_text(filter.get(), "op", op)) return false;
        auto parsed = parse_property_operator(op ? *op : "eq");
        if (!parsed) return value_error(parsed.error());
        c.op = *parsed;
        PyRef value;
        if (!get_field(filter.get(), "value", value)) return false;
        if (!value) return value_error(qmsg::field_required("value"));
        if (c.op == PropertyOperator::In) {
            if (!PyList_Check(value.get())) return value_error(std::string(qmsg::kInNeedsList));
            std::vector<PropertyValue> list;
            for (Py_ssize_t k = 0; k < PyList_GET_SIZE(value.get()); ++k) {
                PyRef item = PyRef::borrow(PyList_GET_ITEM(value.get(), k));
                if (!property_value_from_py(item.get(), list.emplace_back())) return false;
            }
            c.value = ConstraintValue::of_list(std::move(list));
        } else {
            PropertyValue scalar;
            if (!property_value_from_py(value.get(), scalar)) return false;
            c.value = ConstraintValue::of(std::move(scalar));
        }
        out.push_back(std::move(c));
    }
    return true;
}

bool node_from_py(PyObject* el, std::size_t i, NodeElement& node) {
    if (!reject_unknown_fields(el, "match element " + std::to_string(i),
                               {"node", "id", "external_id", "labels", "properties", "where"}))
        return false;
    std::optional<std::vector<std::string>> labels;
    if (!required_text(el, "node", i, node.alias) || !optional_u64(el, "id", node.id) ||
        !optional_text(el, "external_id", node.external_id) || !optional_text_list(el, "labels", labels))
        return false;
    if (labels) node.labels = std::move(*labels);
    return constraints_from_py(el, node.constraints);
}

bool edge_from_py(PyObject* el, std::size_t i, EdgeElement& edge) {
    if (!reject_unknown_fields(el, "match element " + std::to_string(i),
                               {"edge", "id", "type", "direction", "properties", "where"}))
        return false;
    std::optional<std::string> direction;
    if (!optional_text(el, "direction", direction)) return false;
    auto parsed = parse_query_direction(direction ? *direction : "out");
    if (!parsed) return value_error(parsed.error());
    edge.direction = *parsed;
    if (!optional_text(el, "edge", edge.alias) || !optional_u64(el, "id", edge.id) ||
        !optional_text(el, "type", edge.edge_type))
        return false;
    return constraints_from_py(el, edge.constraints);
}

bool element_from_py(PyObject* el, std::size_t i, QueryElement& out) {
    if (!PyDict_Check(el)) return value_error(qmsg::element_not_dict(i));
    const bool node_position = i % 2 == 0;
    PyRef swapped;
    if (!get_field(el, node_position ? "edge" : "node", swapped)) return false;
    if (swapped) return value_error(qmsg::element_swapped(i, node_position));
    if (node_position) return node_from_py(el, i, out.emplace<NodeElement>());
    return edge_from_py(el, i, out.emplace<EdgeElement>());
}

PyObject* schema_value_to_py(const SchemaValue& v) {
    switch (v.kind) {
        case SchemaValue::Kind::Text: return py_text(v.text);
        case SchemaValue::Kind::TextList: return py_text_list(v.texts);
        case SchemaValue::Kind::Dict: break;
    }
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict) return nullptr;
    for (const auto& [key, value] : v.entries) {
        PyRef item = PyRef::steal(schema_value_to_py(value));
        if (!item || PyDict_SetItemString(dict.get(), key.c_str(), item.get()) < 0) return nullptr;
    }
    return dict.release();
}

}  // namespace

bool query_spec_from_py(PyObject* spec, QuerySpec& out) {
    if (!PyDict_Check(spec)) return value_error(std::string(qmsg::kSpecNotDict));
    if (!reject_unknown_fields(spec, "query spec", {"match", "return", "limit"})) return false;
    PyRef match;
    if (!get_field(spec, "match", match)) return false;
    if (!match) return value_error(qmsg::field_required("match"));
    if (!PyList_Check(match.get())) return value_error(std::string(qmsg::kMatchNotList));
    const Py_ssize_t n = PyList_GET_SIZE(match.get());
    if (n == 0) return value_error(std::string(qmsg::kMatchEmpty));
    if (n % 2 == 0) return value_error(std::string(qmsg::kMatchEven));
    // Reading an element may run Python code (an id's __index__) that changes the list, so
    // its length is read afresh at every step.
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(match.get()); ++i) {
        PyRef el = PyRef::borrow(PyList_GET_ITEM(match.get(), i));
        if (!element_from_py(el.get(), static_cast<std::size_t>(i), out.match.emplace_back())) return false;
    }
    return optional_text_list(spec, "return", out.returns) && optional_u64(spec, "limit", out.limit);
}

PyObject* query_schema_to_py() { return schema_value_to_py(query_schema()); }

PyObject* query_rows_to_py(const QueryRows& rows) {
    const std::size_t width = rows.columns.size();
    std::vector<PyRef> keys;
    keys.reserve(width);
    for (const std::string& column : rows.columns) {
        keys.push_back(PyRef::steal(py_text(column)));
        if (!keys.back()) return nullptr;
    }
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(rows.count)));
    if (!list) return nullptr;
    // Consecutive rows of a walk share their leading bindings (the anchor, the first hops),
    // so each column reuses its previous int object while the id stays the same.
    std::vector<PyRef> last(width);
    std::vector<std::uint64_t> last_id(width);
    for (std::size_t r = 0; r < rows.count; ++r) {
        PyObject* dict = PyDict_New();
        if (!dict) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(r), dict);
        for (std::size_t k = 0; k < width; ++k) {
            const std::uint64_t id = rows.ids[r * width + k];
            if (!last[k] || last_id[k] != id) {
                last[k] = PyRef::steal(py_u64(id));
                last_id[k] = id;
                if (!last[k]) return nullptr;
            }
            if (PyDict_SetItem(dict, keys[k].get(), last[k].get()) < 0) return nullptr;
        }
    }
    return list.release();
}

}  // namespace qm::py
