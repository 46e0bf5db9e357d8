// PropertyIndex: which records have a property key, and which have a key with a given value.
//
// Values are indexed per key and kind as sorted (payload, id) pairs rather than one hash
// entry per distinct value: a property whose values are mostly distinct (weights, names)
// would otherwise cost a map node and an id vector per record. Bool, int and float payloads
// are the value's exact bits (so Float 0.0 and -0.0 stay apart, and kinds never meet);
// strings are indexed by a hash and confirmed against the record's own value on lookup.
// New pairs land in an unsorted tail that is merged in when a lookup needs it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/id_set.hpp"
#include "core/packed_props.hpp"
#include "core/symbols.hpp"

namespace qm {

class PropertyIndex {
public:
    // Adds id under every key of the blob and under every (key, value).
    void index(std::uint64_t id, PackedProps blob);
    // The same for one (key, value) of a record, for callers that hold the values unpacked:
    // payload is the value's bits for bool (0 or 1), int and float, text_payload for a string.
    void add(std::uint64_t id, Symbol key, ValueKind kind, std::uint64_t payload);
    static std::uint64_t text_payload(std::string_view s) { return std::hash<std::string_view>{}(s); }

    // Ids having the key, ascending; empty when the key is unknown.
    std::vector<std::uint64_t> with_key(std::optional<Symbol> key) const;

    // Ids whose value under key has the same kind and encoded text as value, ascending.
    // value_of(id, out) must load the record's value under key (used to confirm strings).
    std::vector<std::uint64_t> with_value(
        std::optional<Symbol> key, const PropertyValue& value,
        const std::function<bool(std::uint64_t, ValueView&)>& value_of) const;

private:
    struct Pair {
        std::uint64_t payload;
        std::uint64_t id;
        bool operator<(const Pair& o) const {
            return payload != o.payload ? payload < o.payload : id < o.id;
        }
    };
    struct Run {
        std::vector<Pair> sorted;
        std::vector<Pair> tail;
        void settle();
    };
    struct KeyEntry {
        IdSet ids;
        Run runs[4];  // by ValueKind
    };

    static std::uint64_t payload_of(const ValueView& v);
    static std::uint64_t payload_of(const PropertyValue& v);

    static constexpr std::uint32_t kAbsent = 0xffffffffu;
    KeyEntry* entry(Symbol key) const {
        if (key >= slot_of_.size() || slot_of_[key] == kAbsent) return nullptr;
        return &entries_[slot_of_[key]];
    }

    // Symbols are small dense integers shared by labels, types and keys: a flat map from
    // symbol to a dense entry keeps the per-record lookup a couple of array reads.
    std::vector<std::uint32_t> slot_of_;
    // Lookups may settle a run's tail, hence mutable.
    mutable std::vector<KeyEntry> entries_;
};

}  // namespace qm
