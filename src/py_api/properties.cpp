#include "py_api/properties.hpp"

#include <cmath>
#include <string>
#include <string_view>

#include "core/messages.hpp"
#include "py_api/args.hpp"
#include "py_api/binding_messages.hpp"
#include "py_api/errors.hpp"

namespace qm::py {

namespace {

// Reads one property value into a sink with add_bool/add_int/add_float/add_string, refusing
// non-finite floats and anything that is not a scalar.
template <class Sink>
bool read_property_value(PyObject* o, Sink&& sink) {
    struct Visitor {
        Sink& sink;
        bool on_bool(bool b) { return sink.add_bool(b), true; }
        bool on_int(std::int64_t n) { return sink.add_int(n), true; }
        bool on_float(double d) {
            if (!std::isfinite(d)) {
                raise_value_error(msg::kFloatNotFinite);
                return false;
            }
            sink.add_float(d);
            return true;
        }
        bool on_text(std::string_view s) { return sink.add_string(s), true; }
    };
    switch (read_scalar(o, Visitor{sink})) {
        case ScalarRead::Done: return true;
        case ScalarRead::Failed: return false;
        case ScalarRead::NotScalar: break;
    }
    raise_value_error(msg::kPropertyValueType);
    return false;
}

// A sink that keeps one value.
struct ValueSink {
    PropertyValue& out;
    void add_bool(bool b) { out = PropertyValue(b); }
    void add_int(std::int64_t n) { out = PropertyValue(n); }
    void add_float(double d) { out = PropertyValue(d); }
    void add_string(std::string_view s) { out = PropertyValue(std::string(s)); }
};

}  // namespace

bool property_value_from_py(PyObject* o, PropertyValue& out) { return read_property_value(o, ValueSink{out}); }

namespace {

// Walks a property dict in its own order, checking each key is a str, and hands each
// (key, value) to f, which returns false with an error set to stop. Reads the dict's own
// storage, so no Python code runs while it walks.
template <class F>
bool walk_property_dict(PyObject* dict, F&& f) {
    Py_ssize_t pos = 0;
    PyObject* key;
    PyObject* value;
    Py_ssize_t size = PyDict_GET_SIZE(dict);
    while (PyDict_Next(dict, &pos, &key, &value)) {
        if (PyDict_GET_SIZE(dict) != size) {
            raise_runtime_error(msg::kDictChangedSize);
            return false;
        }
        if (!PyUnicode_Check(key)) {
            raise_value_error(msg::kPropertyKeyType);
            return false;
        }
        if (!f(key, value)) return false;
    }
    return true;
}

}  // namespace

bool properties_from_py(PyObject* dict, PropertyMap& out) {
    out = PropertyMap();
    if (!dict || dict == Py_None) return true;
    out.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(dict)));
    bool ok = walk_property_dict(dict, [&](PyObject* key, PyObject* value) {
        std::string_view k;
        PropertyValue v;
        if (!utf8_of(key, k) || !property_value_from_py(value, v)) return false;
        out.append_unsorted(std::string(k), std::move(v));
        return true;
    });
    if (!ok) return false;
    out.finish();
    return true;
}

PyObject* property_value_to_py(const PropertyValue& v) {
    switch (kind_of(v)) {
        case ValueKind::Bool: return PyBool_FromLong(std::get<bool>(v));
        case ValueKind::Int: return PyLong_FromLongLong(std::get<std::int64_t>(v));
        case ValueKind::Float: return PyFloat_FromDouble(std::get<double>(v));
        case ValueKind::String: return py_text(std::get<std::string>(v));
    }
    Py_RETURN_NONE;
}

PyObject* property_map_to_py(const PropertyMap& map) {
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict) return nullptr;
    for (const auto& [key, value] : map) {
        PyRef k = PyRef::steal(py_text(key));
        PyRef v = PyRef::steal(property_value_to_py(value));
        if (!k || !v || PyDict_SetItem(dict.get(), k.get(), v.get()) < 0) return nullptr;
    }
    return dict.release();
}

// ------------------------------------------------------------------ record dictionaries

namespace {

// Resolves texts (property keys, edge types) to a batch table's numbers. The records of a
// batch mostly share these objects (literals, which the interpreter interns), so each
// object's text is converted and looked up once. A cached object is kept alive by the cache, so its address
// cannot be reused by a different key while cached. Lives only during conversion: dropping
// a reference may free an object, and that must not happen while the graph is borrowed.
class TextCache {
public:
    explicit TextCache(TextTable& table) : table_(table) {}
    ~TextCache() {
        for (Slot& s : slots_) Py_XDECREF(s.object);
    }
    TextCache(const TextCache&) = delete;
    TextCache& operator=(const TextCache&) = delete;

    // key must be a str.
    bool lookup(PyObject* key, TextTable::Id& out) {
        auto addr = reinterpret_cast<std::uintptr_t>(key);
        Slot& slot = slots_[((addr >> 4) ^ (addr >> 12)) % kSlots];
        if (slot.object == key) {
            out = slot.id;
            return true;
        }
        std::string_view text;
        if (!utf8_of(key, text)) return false;
        out = table_.id(text);
        PyObject* old = slot.object;
        slot.object = Py_NewRef(key);
        slot.id = out;
        Py_XDECREF(old);
        return true;
    }

private:
    struct Slot {
        PyObject* object = nullptr;
        TextTable::Id id = 0;
    };
    static constexpr std::size_t kSlots = 64;
    TextTable& table_;
    Slot slots_[kSlots];
};

// As property_value_from_py, straight into the batch.
bool stage_value(PyObject* o, PropertyBatch::KeyId key, PropertyBatch& batch) {
    struct BatchSink {
        PropertyBatch::KeyId key;
        PropertyBatch& batch;
        void add_bool(bool b) { batch.add_bool(key, b); }
        void add_int(std::int64_t n) { batch.add_int(key, n); }
        void add_float(double d) { batch.add_float(key, d); }
        void add_string(std::string_view s) { batch.add_string(key, s); }
    };
    return read_property_value(o, BatchSink{key, batch});
}

// As properties_from_py, as one record of the batch. Runs no Python code.
bool stage_properties(PyObject* dict, PropertyBatch& batch, TextCache& keys, PropertyBatch::Run& out) {
    if (dict && !walk_property_dict(dict, [&](PyObject* key, PyObject* value) {
            PropertyBatch::KeyId k;
            return keys.lookup(key, k) && stage_value(value, k, batch);
        }))
        return false;
    out = batch.finish_record();
    return true;
}

// The fields of one record dict, captured in a single walk that compares key text, so no
// Python code (a key's __eq__ or __hash__) runs while the dict is read.
struct RecordFields {
    PyRef values[4];
};

// Names a record in messages ("node record 3").
struct RecordName {
    const char* kind;
    std::size_t position;
};

// The allowed field names of one record kind, with interned Python strings so the usual
// case (keys written as literals, which the interpreter interns) matches by identity.
struct FieldNames {
    const std::string_view* names;
    int count;
    PyObject* interned[4] = {nullptr, nullptr, nullptr, nullptr};

    FieldNames(const std::string_view* n, int c) : names(n), count(c) {
        for (int i = 0; i < count; ++i) {
            interned[i] = PyUnicode_InternFromString(std::string(names[i]).c_str());
            if (!interned[i]) PyErr_Clear();  // the text comparison still works
        }
    }
    int match(PyObject* key, std::string_view text) const {
        for (int i = 0; i < count; ++i)
            if (key == interned[i]) return i;
        for (int i = 0; i < count; ++i)
            if (names[i] == text) return i;
        return -1;
    }
};

bool capture_fields(PyObject* dict, const RecordName& record, const FieldNames& fields,
                    RecordFields& out) {
    Py_ssize_t pos = 0;
    PyObject* key;
    PyObject* value;
    while (PyDict_Next(dict, &pos, &key, &value)) {
        if (!PyUnicode_Check(key)) {
            raise_value_error(msg::record_keys_not_text(record.kind, record.position));
            return false;
        }
        int found = -1;
        for (int i = 0; i < fields.count && found < 0; ++i)
            if (key == fields.interned[i]) found = i;
        if (found < 0) {
            std::string_view k;
            if (!utf8_of(key, k)) return false;
            found = fields.match(key, k);
            if (found < 0) {
                raise_value_error(msg::record_unknown_field(record.kind, record.position, k));
                return false;
            }
        }
        out.values[found] = PyRef::borrow(value);
    }
    return true;
}

bool absent(const PyRef& v) { return !v || v.get() == Py_None; }

bool optional_dict(const PyRef& v, std::string_view key) {
    if (absent(v) || PyDict_Check(v.get())) return true;
    raise_value_error(msg::optional_record_field_type(key, "a dict"));
    return false;
}

bool required_u64(const PyRef& v, std::size_t i, std::string_view key, std::uint64_t& out) {
    if (!v) {
        raise_value_error(msg::record_missing(i, key));
        return false;
    }
    return read_u64(v.get(), out) || replace_error(msg::record_field_type(i, key, "an int"));
}

bool labels_from_py(PyObject* v, std::vector<std::string>& out) {
    return read_text_list(v, out) || replace_error(msg::optional_record_field_type("labels", "a list of strings"));
}

constexpr std::string_view kNodeFieldNames[] = {"external_id", "labels", "properties"};
constexpr std::string_view kEdgeFieldNames[] = {"source", "target", "edge_type", "properties"};

// Interned once per process, like the interpreter's own identifier cache.
const FieldNames& node_fields() {
    static const FieldNames* f = new FieldNames(kNodeFieldNames, 3);
    return *f;
}
const FieldNames& edge_fields() {
    static const FieldNames* f = new FieldNames(kEdgeFieldNames, 4);
    return *f;
}

}  // namespace

bool node_records_from_py(PyObject* records, std::vector<NewNodeRecord>& out, PropertyBatch& props) {
    if (!PyList_Check(records)) {
        raise_value_error(msg::kNodeRecordsNotList);
        return false;
    }
    out.reserve(static_cast<std::size_t>(PyList_GET_SIZE(records)));
    TextCache keys(props.keys());
    // The list is re-measured each turn: converting a label sequence may run Python code.
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(records); ++i) {
        PyRef element = PyRef::borrow(PyList_GET_ITEM(records, i));
        RecordName name{"node", static_cast<std::size_t>(i)};
        if (!PyDict_Check(element.get())) {
            raise_value_error(msg::record_not_dict(name.kind, name.position));
            return false;
        }
        RecordFields f;
        if (!capture_fields(element.get(), name, node_fields(), f)) return false;
        if (!optional_dict(f.values[2], "properties")) return false;
        NewNodeRecord& rec = out.emplace_back();
        if (!absent(f.values[0])) {
            std::string_view s;
            if (!PyUnicode_Check(f.values[0].get())) {
                raise_value_error(msg::optional_record_field_type("external_id", "a string"));
                return false;
            }
            if (!utf8_of(f.values[0].get(), s)) return false;
            rec.external_id = std::string(s);
        }
        if (!absent(f.values[1]) && !labels_from_py(f.values[1].get(), rec.labels)) return false;
        if (!stage_properties(absent(f.values[2]) ? nullptr : f.values[2].get(), props, keys,
                              rec.properties))
            return false;
    }
    return true;
}

bool edge_records_from_py(PyObject* records, std::vector<NewEdgeRecord>& out, TextTable& types,
                          PropertyBatch& props) {
    if (!PyList_Check(records)) {
        raise_value_error(msg::kEdgeRecordsNotList);
        return false;
    }
    out.reserve(static_cast<std::size_t>(PyList_GET_SIZE(records)));
    TextCache keys(props.keys());
    TextCache type_texts(types);
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(records); ++i) {
        PyRef element = PyRef::borrow(PyList_GET_ITEM(records, i));
        std::size_t pos = static_cast<std::size_t>(i);
        RecordName name{"edge", pos};
        if (!PyDict_Check(element.get())) {
            raise_value_error(msg::record_not_dict(name.kind, name.position));
            return false;
        }
        RecordFields f;
        if (!capture_fields(element.get(), name, edge_fields(), f)) return false;
        if (!optional_dict(f.values[3], "properties")) return false;
        NewEdgeRecord& rec = out.emplace_back();
        if (!required_u64(f.values[0], pos, "source", rec.source)) return false;
        if (!required_u64(f.values[1], pos, "target", rec.target)) return false;
        if (!f.values[2]) {
            raise_value_error(msg::record_missing(pos, "edge_type"));
            return false;
        }
        if (!PyUnicode_Check(f.values[2].get())) {
            raise_value_error(msg::record_field_type(pos, "edge_type", "a string"));
            return false;
        }
        if (!type_texts.lookup(f.values[2].get(), rec.edge_type)) return false;
        if (!stage_properties(absent(f.values[3]) ? nullptr : f.values[3].get(), props, keys,
                              rec.properties))
            return false;
    }
    return true;
}

}  // namespace qm::py
