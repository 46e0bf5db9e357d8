#include "core/property_index.hpp"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace qm {

std::uint64_t PropertyIndex::payload_of(const ValueView& v) {
    std::uint64_t bits = 0;
    switch (v.kind) {
        case ValueKind::Bool: return v.b ? 1 : 0;
        case ValueKind::Int: std::memcpy(&bits, &v.i, 8); return bits;
        case ValueKind::Float: std::memcpy(&bits, &v.f, 8); return bits;
        case ValueKind::String: return text_payload(v.s);
    }
    return 0;
}

std::uint64_t PropertyIndex::payload_of(const PropertyValue& value) {
    ValueView v;
    v.kind = kind_of(value);
    switch (v.kind) {
        case ValueKind::Bool: v.b = std::get<bool>(value); break;
        case ValueKind::Int: v.i = std::get<std::int64_t>(value); break;
        case ValueKind::Float: v.f = std::get<double>(value); break;
        case ValueKind::String: v.s = std::get<std::string>(value); break;
    }
    return payload_of(v);
}

void PropertyIndex::Run::settle() {
    if (tail.empty()) return;
    std::sort(tail.begin(), tail.end());
    std::size_t mid = sorted.size();
    sorted.insert(sorted.end(), tail.begin(), tail.end());
    std::inplace_merge(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(mid), sorted.end());
    tail.clear();
    tail.shrink_to_fit();
}

void PropertyIndex::index(std::uint64_t id, PackedProps blob) {
    for_each_property(blob, [&](Symbol key, const ValueView& v) { add(id, key, v.kind, payload_of(v)); });
}

void PropertyIndex::add(std::uint64_t id, Symbol key, ValueKind kind, std::uint64_t payload) {
    if (key >= slot_of_.size()) slot_of_.resize(key + 1, kAbsent);
    if (slot_of_[key] == kAbsent) {
        slot_of_[key] = static_cast<std::uint32_t>(entries_.size());
        entries_.emplace_back();
    }
    KeyEntry& entry = entries_[slot_of_[key]];
    entry.ids.insert(id);
    Run& run = entry.runs[static_cast<int>(kind)];
    Pair pair{payload, id};
    if (run.tail.empty() && (run.sorted.empty() || run.sorted.back() < pair)) {
        run.sorted.push_back(pair);
    } else {
        // Sorted in one go by the next lookup that needs this run.
        run.tail.push_back(pair);
    }
}

std::vector<std::uint64_t> PropertyIndex::with_key(std::optional<Symbol> key) const {
    if (!key) return {};
    const KeyEntry* e = entry(*key);
    if (!e) return {};
    auto ids = e->ids.ids();
    return {ids.begin(), ids.end()};
}

std::vector<std::uint64_t> PropertyIndex::with_value(
    std::optional<Symbol> key, const PropertyValue& value,
    const std::function<bool(std::uint64_t, ValueView&)>& value_of) const {
    std::vector<std::uint64_t> out;
    if (!key) return out;
    KeyEntry* e = entry(*key);
    if (!e) return out;
    Run& run = e->runs[value.index()];
    run.settle();
    std::uint64_t payload = payload_of(value);
    auto lo = std::lower_bound(run.sorted.begin(), run.sorted.end(), Pair{payload, 0});
    for (auto p = lo; p != run.sorted.end() && p->payload == payload; ++p) {
        if (kind_of(value) == ValueKind::String) {
            ValueView v;
            if (!value_of(p->id, v) || !(v == value)) continue;
        }
        out.push_back(p->id);
    }
    return out;
}

}  // namespace qm
