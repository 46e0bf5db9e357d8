#include "core/packed_props.hpp"

#include <algorithm>

namespace qm {

PropertyValue ValueView::to_value() const {
    switch (kind) {
        case ValueKind::Bool: return PropertyValue(b);
        case ValueKind::Int: return PropertyValue(i);
        case ValueKind::Float: return PropertyValue(f);
        case ValueKind::String: return PropertyValue(std::string(s));
    }
    return PropertyValue(false);
}

bool ValueView::operator==(const PropertyValue& v) const {
    if (kind_of(v) != kind) return false;
    switch (kind) {
        case ValueKind::Bool: return std::get<bool>(v) == b;
        case ValueKind::Int: return std::get<std::int64_t>(v) == i;
        case ValueKind::Float: {
            // Same encoded text: for finite doubles that is the same bit pattern.
            double g = std::get<double>(v);
            return std::memcmp(&g, &f, 8) == 0;
        }
        case ValueKind::String: return std::get<std::string>(v) == s;
    }
    return false;
}

std::byte* BlobArena::allocate(std::size_t size) {
    used_total_ += size;
    if (size > kChunkSize / 4) {
        // Large blobs get a chunk of their own, placed before the current one so the
        // current chunk's free space stays usable.
        auto big = std::make_unique_for_overwrite<std::byte[]>(size);
        std::byte* p = big.get();
        chunks_.insert(chunks_.end() - (chunks_.empty() ? 0 : 1), std::move(big));
        return p;
    }
    if (chunk_used_ + size > kChunkSize) {
        // Not zeroed: every byte is written before it is read, and zeroing a fresh chunk
        // costs a new graph's first record a megabyte of page faults.
        chunks_.push_back(std::make_unique_for_overwrite<std::byte[]>(kChunkSize));
        chunk_used_ = 0;
    }
    std::byte* p = chunks_.back().get() + chunk_used_;
    chunk_used_ += size;
    return p;
}

ValueView view_of(const PropertyValue& value) {
    ValueView v;
    v.kind = kind_of(value);
    switch (v.kind) {
        case ValueKind::Bool: v.b = std::get<bool>(value); break;
        case ValueKind::Int: v.i = std::get<std::int64_t>(value); break;
        case ValueKind::Float: v.f = std::get<double>(value); break;
        case ValueKind::String: v.s = std::get<std::string>(value); break;
    }
    return v;
}

std::string encoded_value(const ValueView& v) {
    switch (v.kind) {
        case ValueKind::Bool: return v.b ? "true" : "false";
        case ValueKind::Int: return std::to_string(v.i);
        case ValueKind::Float: return format_double(v.f);
        case ValueKind::String: return std::string(v.s);
    }
    return {};
}

PackedProps pack_properties(const PropertyMap& map, SymbolTable& symbols, BlobArena& arena) {
    if (map.empty()) return nullptr;
    std::size_t size = 0;
    for (const auto& [key, value] : map) {
        bool text = kind_of(value) == ValueKind::String;
        size += packed_entry_size(kind_of(value), text ? std::get<std::string>(value).size() : 0);
    }
    BlobWriter out(arena, size, static_cast<std::uint32_t>(map.size()));
    for (const auto& [key, value] : map) out.entry(symbols.intern(key), view_of(value));
    return out.blob();
}

PropertyMap unpack_properties(PackedProps blob, const SymbolTable& symbols) {
    PropertyMap map;
    for_each_property(blob, [&](Symbol key, const ValueView& v) {
        map.set(std::string(symbols.text(key)), v.to_value());
    });
    return map;
}

bool find_property(PackedProps blob, Symbol key, ValueView& out) {
    bool found = false;
    for_each_property(blob, [&](Symbol k, const ValueView& v) {
        if (!found && k == key) {
            out = v;
            found = true;
        }
    });
    return found;
}

}  // namespace qm
