// PropertyBatch: the property maps of one insertion batch, staged in a few flat buffers.
// A batch of a million records would otherwise build a million small maps, each with its own
// heap vector and key strings, only to pack and free them again.
//
// Keys are numbered per batch, one number per distinct text. Each record's entries form a
// contiguous run kept in ascending key-text order with unique keys (the later of two equal
// keys wins), exactly as a PropertyMap built from the same entries would be.
#pragma once

#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/packed_props.hpp"
#include "core/property_index.hpp"
#include "core/result.hpp"
#include "core/values.hpp"

namespace qm {

// The distinct texts of a batch (property keys, edge types), numbered in order of first
// sight, so per-record work handles a small number instead of a string.
class TextTable {
public:
    using Id = std::uint32_t;
    static constexpr Id kNone = 0xffffffffu;

    Id id(std::string_view text);
    std::string_view text(Id id) const { return texts_[id]; }
    std::size_t size() const { return texts_.size(); }
    // The empty text's number, or kNone when the batch has none.
    Id empty_id() const { return empty_; }

private:
    std::deque<std::string> texts_;  // deque: the index's views stay valid as it grows
    std::unordered_map<std::string_view, Id> ids_;
    Id empty_ = kNone;
};

class PropertyBatch {
public:
    using KeyId = TextTable::Id;

    struct Entry {
        std::uint64_t bits = 0;  // bool, int and float payloads; a string's offset in the text
        std::uint64_t size = 0;  // a string's length
        KeyId key = 0;
        ValueKind kind = ValueKind::Bool;
    };

    // One record's entries; count 0 is the empty map.
    struct Run {
        std::uint64_t begin = 0;
        std::uint64_t count = 0;
    };

    PropertyBatch() = default;
    PropertyBatch(const PropertyBatch&) = delete;
    PropertyBatch& operator=(const PropertyBatch&) = delete;
    PropertyBatch(PropertyBatch&&) = default;
    PropertyBatch& operator=(PropertyBatch&&) = default;

    KeyId key(std::string_view text) { return keys_.id(text); }
    TextTable& keys() { return keys_; }
    std::string_view key_text(KeyId key) const { return keys_.text(key); }
    std::size_t key_count() const { return keys_.size(); }

    // Appends to the open record; finish_record() closes it.
    void add_bool(KeyId key, bool v) { push(key, ValueKind::Bool, v ? 1 : 0, 0); }
    void add_int(KeyId key, std::int64_t v);
    void add_float(KeyId key, double v);  // non-finite values are kept, and refused by validate
    void add_string(KeyId key, std::string_view v);
    void add_value(KeyId key, const PropertyValue& v);
    // Orders the open record's entries by key text and drops overwritten ones.
    Run finish_record();
    // Stages a whole map as one record.
    Run add_map(const PropertyMap& map);

    std::span<const Entry> entries(Run run) const {
        return std::span<const Entry>(entries_.data() + run.begin, run.count);
    }
    ValueView view(const Entry& e) const;
    PropertyMap to_map(Run run) const;

    // Empty keys and non-finite floats fail; the first offending entry in key order is
    // reported, with the messages of validate_properties.
    [[nodiscard]] Status validate(Run run) const;

private:
    // entries_ is storage with used_ live entries: the append on every value stays a
    // store and a compare, with the rare growth out of line.
    void push(KeyId key, ValueKind kind, std::uint64_t bits, std::uint64_t size) {
        if (used_ == entries_.size()) [[unlikely]] grow();
        entries_[used_++] = Entry{bits, size, key, kind};
    }
    void grow();
    // Fills order_ with the open record's surviving entries (offsets into it) in key order.
    void order_open_record(std::span<const Entry> open);

    std::vector<Entry> entries_;
    std::uint64_t used_ = 0;
    std::uint64_t open_ = 0;  // first entry of the open record
    std::string text_;        // string values end to end
    TextTable keys_;
    bool has_non_finite_ = false;
    // The records of a batch mostly have the same keys in the same order: the last
    // record's key sequence and the order worked out for it are reused when they match.
    std::vector<KeyId> shape_;
    std::vector<std::uint32_t> order_;
    bool in_order_ = false;  // order_ keeps every entry where it is
    std::vector<Entry> scratch_;
};

// Packs one staged record into the arena and indexes it under id in the same pass; syms
// maps the batch's keys to symbols and is filled in (interning) as keys are first met, so
// symbols are created in packing order.
PackedProps pack_properties(const PropertyBatch& batch, PropertyBatch::Run run,
                            std::vector<Symbol>& syms, SymbolTable& symbols, BlobArena& arena,
                            PropertyIndex& index, std::uint64_t id);

}  // namespace qm
